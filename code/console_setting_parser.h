#pragma once
// The settings file "TalvexSettings.INI" and the ConsoleSettings record.
//
// The file has three sections: "FileInfo" (version = 1), "CallerID" (the caller-ID
// database options) and "ConsoleOptions" (the console's general options). Names
// and the words "Windows", "DBMS", "None", "Local", "Server" match exactly.

#include "code/console_settings.h"

#include <string>

// Resets the record to its defaults, then takes every value of the file that is
// present and valid. True only when the file was read without error, every key
// was present and valid, and the version is 1. A file with a duplicate section or
// key is not used at all; key lines outside any section are dropped (and logged)
// and the rest is used. A symbolic link at the path is not followed: it is logged
// and counts as a file that cannot be read. Whatever the result, the record ends
// unchanged (IsChanged false). An unknown authentication or database type word is
// reported to the diagnostic log; a "version" or "Language Locale" without a
// leading unsigned decimal number counts as missing.
bool LoadConsoleSettings(const char* path, ConsoleSettings& settings);

// Why a load did not use the whole file, for people: empty when it did.
struct SettingsLoadReport {
    bool fileExists = false;  // an entry is at the path (a refused link counts)
    std::string reason;       // one English sentence, e.g. "Line 12: the key \"UserID\"
                              // appears twice in [CallerID]." or "The file is a symbolic
                              // link." or "The key \"version\" is missing from
                              // [FileInfo]." -- the first problem found
};
// The load above; `report` (may be null) is filled whatever the result. Without a
// file, fileExists is false and the reason says so.
bool LoadConsoleSettings(const char* path, ConsoleSettings& settings, SettingsLoadReport* report);

// Replaces the whole file with the record's values (sections, keys and comments
// of the old file are not kept). The file is replaced atomically: on false the old
// file is still whole. A value the file cannot hold (a text with a line feed, an
// authentication or database type outside its enumeration) is reported, nothing
// is written and the answer is false.
bool SaveConsoleSettings(const char* path, const ConsoleSettings& settings);
