#pragma once
// What is wrong with a settings file, each problem with the line it was found on: what
// the sheet would otherwise fill in silently with defaults when it loads the file.

#include <string>
#include <vector>

struct SettingsProblem {
    unsigned line = 0;  // 1-based; 0 when the problem has no line (a missing key)
    std::string text;
};

// Reads the file at `path` and lists its problems in line order (those without a line
// last): duplicate sections and keys, lines outside any section, invalid words, ports
// that are no number or out of range, language identifiers that name no language,
// missing keys, a version other than 1. False, with `error` set, when the file
// cannot be read at all.
bool CheckSettingsFile(const std::string& path, std::vector<SettingsProblem>& problems,
                       std::string& error);
