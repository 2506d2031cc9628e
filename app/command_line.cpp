#include "app/command_line.h"

#include <string_view>

#ifndef TALVEX_VERSION
#define TALVEX_VERSION "0"
#endif

Command ParseCommandLine(int argc, const char* const* argv) {
    if (argc <= 1) return {};
    const std::string_view first = argv[1];
    if (argc == 2 && (first == "--help" || first == "-h")) return {CommandKind::Help, {}};
    if (argc == 2 && first == "--version") return {CommandKind::Version, {}};
    if (first.starts_with('-'))
        return {CommandKind::UsageError, "unknown option '" + std::string(first) + "'"};
    return {CommandKind::UsageError, "unexpected argument '" + std::string(first) + "'"};
}

std::string UsageText() {
    return "Usage: talvex-config [--help | --version]\n"
           "\n"
           "Opens the settings sheet of the Talvex dispatch console: the console options and\n"
           "the caller-ID database options the console reads when it starts.\n"
           "\n"
           "Users outside the group Talvex_Supervisors see the settings read-only.\n"
           "Only one copy runs at a time on a machine.\n"
           "\n"
           "Options:\n"
           "  -h, --help     show this text and exit\n"
           "      --version  show the version and exit\n"
           "\n"
           "Environment:\n"
           "  PROGRAMDATA       the machine-wide data folder (default /var/lib)\n"
           "  SYSERRLOG         diagnostic log outputs, a bit mask: 1 console, 2 file\n"
           "                    syserrlog.txt in the temp folder, 4 complemented file,\n"
           "                    8 syslog datagram\n"
           "  SYSERRLOG_SYSLOG  the syslog receiver as host:port (port 514 by default)\n";
}

std::string VersionText() { return std::string("talvex-config ") + TALVEX_VERSION + "\n"; }
