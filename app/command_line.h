#pragma once
// What the command line asks of talvex-config. Widget-free: options and commands that
// answer without the sheet must not need a display.

#include <string>
#include <vector>

enum class CommandKind {
    RunSheet,
    Help,
    Version,
    UsageError,
    Show,
    Get,
    Set,
    Check,
    TestConnection,
    Init,
};

struct Command {
    CommandKind kind = CommandKind::RunSheet;
    std::string error;                   // for UsageError: what was wrong, without the program name
    std::string file;                    // --file PATH; empty means the machine's settings file
    bool json = false;                   // show --json
    bool showPassword = false;           // show, get: --show-password
    bool verbose = false;                // test-connection --verbose
    std::vector<std::string> arguments;  // get: KEY; set: KEY=VALUE...; check: [FILE]
};

Command ParseCommandLine(int argc, const char* const* argv);

// The usage text, ending in a line feed.
std::string UsageText();
// "talvex-config <version>" and a line feed.
std::string VersionText();
