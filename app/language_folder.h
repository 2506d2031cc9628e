#pragma once
// Where the console's localized resource libraries are installed: the folder
// "Language" beside the running executable.

#include <string>
#include <string_view>

inline constexpr std::wstring_view kLanguageSubFolder = L"Language";

// "<folder of executablePath>/Language". Empty when the path names no folder (no
// "/" in it) or its bytes are not text in the process locale.
std::wstring LanguageFolderBeside(const std::string& executablePath);

// LanguageFolderBeside the running executable; empty when it cannot be named.
std::wstring LanguageFolder();
