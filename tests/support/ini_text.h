#pragma once
// Settings files as the parser writes them, spelled short in tests.

#include <string>

// The line written above a section header that has no comment of its own.
inline const std::string kIniSeparator =
    "# -----------------------------------------------------------------------------";

// `text` as the parser writes it: each line ends in CR LF, a "---" line is the separator.
inline std::string ini_lines(const std::string& text) {
    std::string out;
    for (size_t at = 0, end; at < text.size(); at = end + 1) {
        end = text.find('\n', at);
        const std::string line = text.substr(at, end - at);
        out += (line == "---" ? kIniSeparator : line) + "\r\n";
        if (end == std::string::npos) break;
    }
    return out;
}
