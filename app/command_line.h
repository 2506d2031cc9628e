#pragma once
// What the command line asks of talvex-config. Widget-free: options that answer
// without the sheet must not need a display.

#include <string>

enum class CommandKind { RunSheet, Help, Version, UsageError };

struct Command {
    CommandKind kind = CommandKind::RunSheet;
    std::string error;  // for UsageError: what was wrong, without the program name
};

Command ParseCommandLine(int argc, const char* const* argv);

// The usage text, ending in a line feed.
std::string UsageText();
// "talvex-config <version>" and a line feed.
std::string VersionText();
