#pragma once
// The settings file "TalvexSettings.INI" and the ConsoleSettings record.
//
// The file has three sections: "FileInfo" (version = 1), "CallerID" (the caller-ID
// database options) and "ConsoleOptions" (the console's general options). Names
// and the words "Windows", "DBMS", "None", "Local", "Server" match exactly.

#include "code/console_settings.h"

// Resets the record to its defaults, then takes every value of the file that is
// present and valid. True only when the file was read without error, every key
// was present and valid, and the version is 1. A file with a duplicate section or
// key, or lines outside any section, is not used at all. Whatever the result, the
// record ends unchanged (IsChanged false). An unknown authentication or database
// type word is reported to the diagnostic log; a "version" or "Language Locale"
// that is not an unsigned decimal number counts as missing.
bool LoadConsoleSettings(const char* path, ConsoleSettings& settings);

// Replaces the whole file with the record's values (sections, keys and comments
// of the old file are not kept). The file is replaced atomically: on false the old
// file is still whole. False also when the record held an authentication or
// database type outside its enumeration: that key is reported and left out, the
// rest is written.
bool SaveConsoleSettings(const char* path, const ConsoleSettings& settings);
