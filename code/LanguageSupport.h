#pragma once
// Finds the console's localized resource libraries in a folder and names their
// languages. The widget-free half of filling the language list: the Console
// Options page inserts the results.

#include <cstdint>
#include <string>
#include <vector>

#include "code/pe_version_resource.h"

struct LanguageLibrary {
    std::wstring fileName;      // as found in the folder
    uint16_t languageId = 0;    // first translation of its version resource (LANGID)
    std::wstring languageName;  // LanguageDisplayName(languageId), empty if that failed
};

// The system's name of a language identifier, like VerLanguageNameW: ICU's display
// name of the LCID's locale, in `displayLocale` ("fr", "de_DE"; null means the
// process's LC_MESSAGES locale, English for "C"/"POSIX"). Identifiers ICU does not
// know, and those whose primary language is 0, give "Language Neutral". Empty
// only when ICU fails outright.
std::wstring LanguageDisplayName(uint16_t wLanguageId, const char* displayLocale = nullptr);

// The names in `folder` that match `pattern` (only "?" and "*" are wildcards;
// fnmatch, case-insensitive), sorted case-insensitively (then bytewise); a byte the
// locale cannot read sorts as itself after every character, so the order is total. Entries of every
// kind are listed; the readers refuse what is not a file. False when the folder cannot be listed to
// the end (`names` holds what was seen).
bool ListMatchingFiles(const std::string& folder, const std::string& pattern,
                       std::vector<std::string>& names);

// Visits the files of `lpzLangFilePath` matching `lpzLangFileNamePattern` in
// case-insensitive name order and keeps those whose version property
// `lpzVersionInfoRequested` equals `lpzLangFileVersion` exactly. `libraries` gets
// them in that order; the page inserts each at the index of the previous one, so
// its list shows them reversed. Returns false, with `libraries` empty and the
// failure reported, when an argument is missing or a path does not fit in 260
// characters; true otherwise (even when nothing was found). Every file that lacks
// the property (or whose text does not fit 260 characters) is reported.
bool FindLanguageLibraries(const wchar_t* lpzLangFilePath, const wchar_t* lpzLangFileNamePattern,
                           const wchar_t* lpzLangFileVersion,
                           const wchar_t* lpzVersionInfoRequested,
                           std::vector<LanguageLibrary>& libraries);
