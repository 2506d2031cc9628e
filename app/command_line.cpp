#include "app/command_line.h"

#include <string_view>

#ifndef TALVEX_VERSION
#define TALVEX_VERSION "0"
#endif

namespace {

struct CommandName {
    std::string_view name;
    CommandKind kind;
    size_t minArguments;
    size_t maxArguments;
};

constexpr size_t kMany = static_cast<size_t>(-1);

constexpr CommandName COMMANDS[] = {
    {"show", CommandKind::Show, 0, 0},
    {"get", CommandKind::Get, 1, 1},
    {"set", CommandKind::Set, 1, kMany},
    {"check", CommandKind::Check, 0, 1},
    {"test-connection", CommandKind::TestConnection, 0, 0},
    {"init", CommandKind::Init, 0, 0},
};

Command only(CommandKind kind, std::string error = {}) {
    Command command;
    command.kind = kind;
    command.error = std::move(error);
    return command;
}

Command usage_error(std::string what) { return only(CommandKind::UsageError, std::move(what)); }

// Which command may take which option; a misplaced option is a usage error rather than
// silently ignored, so a script learns at once that it asked for something else.
bool option_allowed(std::string_view option, CommandKind kind) {
    if (option == "--json") return kind == CommandKind::Show;
    if (option == "--show-password") return kind == CommandKind::Show || kind == CommandKind::Get;
    if (option == "--verbose") return kind == CommandKind::TestConnection;
    return true;
}

}  // namespace

Command ParseCommandLine(int argc, const char* const* argv) {
    if (argc <= 1) return {};
    Command command;
    const CommandName* found = nullptr;
    std::vector<std::string_view> options;
    bool fileGiven = false;
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (!optionsEnded && argument.size() > 1 && argument.starts_with('-')) {
            if (argument == "--") {
                optionsEnded = true;
            } else if (argument == "--help" || argument == "-h") {
                return only(CommandKind::Help);
            } else if (argument == "--version") {
                if (argc != 2) return usage_error("--version takes no command");
                return only(CommandKind::Version);
            } else if (argument == "--file" || argument.starts_with("--file=")) {
                if (fileGiven) return usage_error("--file given twice");
                fileGiven = true;
                if (argument == "--file") {
                    if (++i == argc) return usage_error("--file needs a path");
                    command.file = argv[i];
                } else {
                    command.file = argument.substr(7);
                }
                if (command.file.empty()) return usage_error("--file needs a path");
            } else if (argument == "--json" || argument == "--show-password" ||
                       argument == "--verbose" || argument == "-v") {
                options.push_back(argument == "-v" ? "--verbose" : argument);
            } else {
                return usage_error("unknown option '" + std::string(argument) + "'");
            }
        } else if (!found) {
            for (const CommandName& entry : COMMANDS)
                if (entry.name == argument) found = &entry;
            if (!found) return usage_error("unknown command '" + std::string(argument) + "'");
        } else {
            command.arguments.emplace_back(argument);
        }
    }
    if (!found) return usage_error("a command is needed with these options");
    command.kind = found->kind;
    const std::string name(found->name);
    for (const std::string_view option : options) {
        if (!option_allowed(option, command.kind))
            return usage_error(name + " does not take " + std::string(option));
        if (option == "--json") command.json = true;
        if (option == "--show-password") command.showPassword = true;
        if (option == "--verbose") command.verbose = true;
    }
    const size_t count = command.arguments.size();
    if (count < found->minArguments)
        return usage_error(
            name + (command.kind == CommandKind::Get ? " needs a KEY" : " needs KEY=VALUE"));
    if (count > found->maxArguments)
        return usage_error("too many arguments for " + name + ": '" + command.arguments.back() +
                           "'");
    if (command.kind == CommandKind::Check && count == 1 && fileGiven)
        return usage_error("check takes either FILE or --file, not both");
    if (command.kind == CommandKind::Check && count == 1) command.file = command.arguments[0];
    if (command.kind == CommandKind::Init && fileGiven)
        return usage_error("init works on the machine's settings folder only");
    return command;
}

std::string UsageText() {
    return "Usage: talvex-config [--help | --version]\n"
           "       talvex-config [--file PATH] COMMAND [OPTIONS] [ARGUMENTS]\n"
           "\n"
           "Without a command, opens the settings sheet of the Talvex dispatch console: the\n"
           "console options and the caller-ID database options the console reads when it\n"
           "starts. The commands work without a display.\n"
           "\n"
           "Users outside the group Talvex_Supervisors see the settings read-only.\n"
           "Only one copy runs at a time on a machine.\n"
           "\n"
           "Commands:\n"
           "  show [--json] [--show-password]\n"
           "                   the settings as the sheet shows them, one 'Section.Key = value'\n"
           "                   a line, or one JSON object; the password shows as ********\n"
           "  get [--show-password] KEY\n"
           "                   one value; KEY is 'DbmsTcpPort' or 'CallerID.DbmsTcpPort'\n"
           "  set KEY=VALUE... checks every value as the sheet does, then saves them all at\n"
           "                   once; prints 'changed' or 'unchanged' (the file untouched)\n"
           "  check [FILE]     prints every problem of the settings file with its line number\n"
           "  test-connection [--verbose]\n"
           "                   the connection test with the stored settings; --verbose adds\n"
           "                   the client library, the server's version, times and errors\n"
           "  init             creates the machine's settings folder and prints its path\n"
           "\n"
           "Options:\n"
           "  -h, --help       show this text and exit\n"
           "      --version    show the version and exit\n"
           "      --file PATH  work on the settings file PATH instead of the machine's\n"
           "\n"
           "Keys: CallerID.ADM Server, CallerID.Authentication (Windows, DBMS),\n"
           "  CallerID.CallerIDDatabaseType (None, Local, Server), CallerID.DbmsTcpPort\n"
           "  (1-65535), CallerID.Local_FileName, CallerID.Password, CallerID.UserID,\n"
           "  ConsoleOptions.CsleLog, ConsoleOptions.Language Locale (a language identifier\n"
           "  such as 1033), ConsoleOptions.SaveActLogToFile,\n"
           "  ConsoleOptions.SavePageHistToFile, ConsoleOptions.Update Date And Time Bios\n"
           "  (switches: True or False).\n"
           "\n"
           "Exit status: 0 done; 1 a refused value, a problem found or a failed test;\n"
           "  2 a usage error; 3 the settings sheet is open on this machine; 4 not permitted\n"
           "  (changing the machine's settings needs root or Talvex_Supervisors);\n"
           "  5 the file could not be written.\n"
           "\n"
           "Environment:\n"
           "  PROGRAMDATA       the machine-wide data folder (default /var/lib)\n"
           "  SYSERRLOG         diagnostic log outputs, a bit mask: 1 console, 2 file\n"
           "                    syserrlog.txt in the temp folder, 4 complemented file,\n"
           "                    8 syslog datagram\n"
           "  SYSERRLOG_SYSLOG  the syslog receiver as host:port (port 514 by default)\n";
}

std::string VersionText() { return std::string("talvex-config ") + TALVEX_VERSION + "\n"; }
