#pragma once
// The commands of talvex-config for administrators of many workstations: they run
// without a display (no widget, no QApplication) and answer with an exit code a
// configuration tool can act on. Output goes to stdout, messages to stderr as
// "talvex-config: ...".

#include "app/command_line.h"

enum AdminExitCode : int {
    ExitDone = 0,
    ExitRefused = 1,       // a refused value, a problem found, a failed test
    ExitUsage = 2,         // the command line was wrong
    ExitSheetOpen = 3,     // the settings sheet is open on this machine
    ExitNotPermitted = 4,  // changing the machine's settings needs root or a supervisor
    ExitNotWritten = 5,    // the file (or folder) could not be written
};

// Runs `command` (show, get, set, check, test-connection or init) and returns its exit code.
int RunAdminCommand(const Command& command);
