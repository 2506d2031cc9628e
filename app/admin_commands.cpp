#include "app/admin_commands.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "app/caller_id_rules.h"
#include "app/connection_test.h"
#include "app/instance_name.h"
#include "app/local_callerid_database.h"
#include "app/setting_values.h"
#include "app/settings_check.h"
#include "app/settings_location.h"
#include "app/string_table.h"
#include "code/char2wchar.h"
#include "code/console_setting_parser.h"
#include "code/pathmanagement.h"
#include "code/single_application_instance.h"
#include "code/user_credentials.h"

namespace {

const char MASKED_PASSWORD[] = "********";

void report(const std::string& text) { std::fprintf(stderr, "talvex-config: %s\n", text.c_str()); }

void print_line(const std::string& text) { std::printf("%s\n", text.c_str()); }

std::string file_system_text(const std::wstring& path) {
    std::string narrow;
    return wchar_to_mbchar(path.c_str(), narrow) ? narrow : std::string();
}

bool exists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

// The machine's settings file; empty (reported) when the data folder cannot be named.
std::string machine_settings_file() {
    const std::string path = file_system_text(SettingsFilePath(false));
    if (path.empty()) report("the machine's settings folder cannot be named (see PROGRAMDATA)");
    return path;
}

// Whether `path` names the machine's settings file, by another spelling or a link too:
// such a path must not escape the permission check and the guard.
bool is_machine_file(const std::string& path, const std::string& machine) {
    namespace fs = std::filesystem;
    std::error_code error;
    if (fs::equivalent(path, machine, error)) return true;
    // Also when the caller cannot look into the folder: the spelling alone decides then.
    const fs::path plainA = fs::absolute(path, error).lexically_normal();
    const fs::path plainB = fs::absolute(machine, error).lexically_normal();
    if (!error && plainA == plainB) return true;
    const fs::path a = fs::weakly_canonical(path, error);
    if (error) return false;
    const fs::path b = fs::weakly_canonical(machine, error);
    return !error && a == b;
}

bool may_change_machine_settings() {
    // Configuration tools run as root; the sheet itself asks only for the group.
    return ::geteuid() == 0 || IsMemberOfGroup(kSupervisorsGroup, nullptr);
}

const char NOT_PERMITTED[] =
    "changing the machine's settings needs root or membership in the group Talvex_Supervisors";

// Holds the single-instance name while a command changes the machine's settings, so the
// sheet cannot start meanwhile and a running sheet's OK cannot overwrite the change.
class InstanceGuard {
public:
    bool acquire() {
        m_registered = SingleApplicationInstance::RegisterApplicationInstance(kInstanceName, false);
        return SingleApplicationInstance::IsOnlyApplicationInstance();
    }
    ~InstanceGuard() {
        if (m_registered) SingleApplicationInstance::ReleaseApplicationInstance();
    }

private:
    bool m_registered = false;
};

// Loads as the sheet does; a file that is there but could not be used whole is said.
struct Loaded {
    bool whole = false;
    bool fileExists = false;
};

Loaded load_settings(const std::string& path, ConsoleSettings& settings) {
    SettingsLoadReport report;
    Loaded loaded;
    loaded.whole = LoadConsoleSettings(path.c_str(), settings, &report);
    loaded.fileExists = report.fileExists;
    if (!loaded.whole && report.fileExists)
        ::report("note: " + path + " could not be loaded whole. " + report.reason +
                 " Where it gave no usable value, the default is used.");
    return loaded;
}

bool same_settings(const ConsoleSettings& a, const ConsoleSettings& b) {
    for (const SettingKey& key : kSettingKeys)
        if (DisplayValue(a, key) != DisplayValue(b, key)) return false;
    // The port shows normalised; the stored text must match as well.
    return a.GetDbmsTcpPort() == b.GetDbmsTcpPort();
}

std::string json_string(const std::string& bytes) {
    std::string result = "\"";
    for (const wchar_t code : utf8_to_wide_lenient(bytes)) {
        if (code == L'"' || code == L'\\') {
            result += '\\';
            result += static_cast<char>(code);
        } else if (code < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(code));
            result += escaped;
        } else {
            result += wide_to_utf8(std::wstring(1, code));
        }
    }
    return result + "\"";
}

std::string shown_value(const ConsoleSettings& settings, const SettingKey& key, bool showPassword) {
    if (key.kind == SettingKind::Password && !showPassword) return MASKED_PASSWORD;
    return DisplayValue(settings, key);
}

std::string reading_path(const Command& command) {
    return command.file.empty() ? machine_settings_file() : command.file;
}

int run_show(const Command& command) {
    const std::string path = reading_path(command);
    if (path.empty()) return ExitRefused;
    ConsoleSettings settings;
    load_settings(path, settings);
    if (!command.json) {
        for (const SettingKey& key : kSettingKeys)
            print_line(FullName(key) + " = " + shown_value(settings, key, command.showPassword));
        return ExitDone;
    }
    std::string json = "{";
    std::string_view section;
    for (const SettingKey& key : kSettingKeys) {
        if (key.section != section) {
            json += section.empty() ? "\n" : "\n  },\n";
            json += "  " + json_string(std::string(key.section)) + ": {\n";
            section = key.section;
        } else {
            json += ",\n";
        }
        const std::string value = shown_value(settings, key, command.showPassword);
        const bool bare = key.kind == SettingKind::Port || key.kind == SettingKind::Language ||
                          key.kind == SettingKind::Switch;
        json += "    " + json_string(std::string(key.key)) + ": " +
                (key.kind == SettingKind::Switch ? (value == "True" ? "true" : "false")
                 : bare                          ? value
                                                 : json_string(value));
    }
    json += "\n  }\n}";
    print_line(json);
    return ExitDone;
}

int run_get(const Command& command) {
    const SettingKey* key = FindSettingKey(command.arguments[0]);
    if (!key) {
        report("unknown key '" + command.arguments[0] + "' (talvex-config --help lists them)");
        return ExitUsage;
    }
    const std::string path = reading_path(command);
    if (path.empty()) return ExitRefused;
    ConsoleSettings settings;
    load_settings(path, settings);
    print_line(shown_value(settings, *key, command.showPassword));
    return ExitDone;
}

// The caller-ID page writes every one of its fields when applied, as it shows them: the
// port normalised, the texts trimmed (the password excepted).
void apply_caller_id_page(ConsoleSettings& settings) {
    const auto trimmed = [](const std::string& text) {
        std::wstring wide;
        return utf8_to_wide(text, wide) ? wide_to_utf8(Trimmed(wide)) : text;
    };
    settings.SetLocalFileName(trimmed(settings.GetLocalFileName()));
    settings.SetDbmsTcpPort(
        std::to_string(NormalisedPort(utf8_to_wide_lenient(settings.GetDbmsTcpPort()))));
    settings.SetAdmServer(trimmed(settings.GetAdmServer()));
    settings.SetUserId(trimmed(settings.GetUserId()));
}

// The value to store for `value` typed for `key`, or the reason it is refused (the
// page's own message where the page has one).
std::string checked_value(const SettingKey& key, const std::string& value, std::string& stored) {
    std::wstring wide;
    if (!utf8_to_wide(value, wide)) return "the value is not UTF-8 text";
    if (value.find_first_of("\r\n") != std::string::npos)
        return "the settings file cannot hold a line break";
    switch (key.kind) {
        case SettingKind::Text:
            stored = wide_to_utf8(Trimmed(wide));
            return {};
        case SettingKind::UserName:
            stored = wide_to_utf8(Trimmed(wide));
            if (Trimmed(wide).size() > MaxUserNameLength)
                return "the user name takes at most " + std::to_string(MaxUserNameLength) +
                       " characters";
            return {};
        case SettingKind::Password:
            if (wide.size() > MaxPasswordLength)
                return "the password takes at most " + std::to_string(MaxPasswordLength) +
                       " characters";
            if (PasswordLosesLeadingBlanks(wide))
                return wide_to_utf8(LoadCachedString(IDS_PASSWORD_LEADING_BLANKS));
            stored = value;
            return {};
        case SettingKind::Port: {
            const std::optional<uint32_t> port = ParsePortText(wide);
            if (!port || !PortInRange(*port)) return wide_to_utf8(kPortRangeMessage);
            stored = std::to_string(*port);
            return {};
        }
        case SettingKind::LocalFileName: {
            CallerIdFields fields;
            fields.kind = CallerIdDbLocal;
            fields.localFileName = wide;
            std::wstring name;
            if (const unsigned id = ValidateCallerIdFields(fields, name))
                return wide_to_utf8(LoadCachedString(id));
            stored = wide_to_utf8(name);
            return {};
        }
        case SettingKind::Authentication:
            if (const auto method = ValueOfWord(kAuthenticationWords, value, true)) {
                stored = WordOf(kAuthenticationWords, *method);
                return {};
            }
            return "'" + value + "' is neither Windows nor DBMS";
        case SettingKind::DatabaseType:
            if (const auto type = ValueOfWord(kDatabaseTypeWords, value, true)) {
                stored = WordOf(kDatabaseTypeWords, *type);
                return {};
            }
            return "'" + value + "' is none of None, Local and Server";
        case SettingKind::Switch:
            if (const auto on = ParseSwitchWord(value)) {
                stored = *on ? "True" : "False";
                return {};
            }
            return "'" + value + "' is neither True nor False";
        case SettingKind::Language:
            if (const auto id = ParseDecimal(value); id && IsLanguageIdentifier(*id)) {
                stored = std::to_string(*id);
                return {};
            }
            return "'" + value + "' is no language identifier (1033 is English, United States)";
    }
    return {};
}

// The page's validation of the whole caller-ID page; for the local kind the stored name
// gets ".xml" as the page adds it. Empty when the page may be applied.
std::string validate_caller_id_page(ConsoleSettings& settings) {
    CallerIdFields fields;
    fields.kind = settings.GetCallerIdDatabaseType();
    fields.localFileName = utf8_to_wide_lenient(settings.GetLocalFileName());
    fields.server = utf8_to_wide_lenient(settings.GetAdmServer());
    fields.port = ParsePortText(utf8_to_wide_lenient(settings.GetDbmsTcpPort()));
    fields.dbmsAuthentication = settings.GetAuthentication() == DbmsAuthentication;
    fields.userName = utf8_to_wide_lenient(settings.GetUserId());
    fields.password = utf8_to_wide_lenient(settings.GetPassword());
    std::wstring name;
    if (const unsigned id = ValidateCallerIdFields(fields, name)) {
        std::string text = wide_to_utf8(LoadCachedString(id));
        if (id == IDS_FILL_ALL_FIELDS)
            text += fields.kind == CallerIdDbLocal
                        ? " (the local kind needs CallerID.Local_FileName)"
                        : " (the server kind needs CallerID.ADM Server, and with DBMS "
                          "authentication CallerID.UserID and CallerID.Password)";
        return text;
    }
    if (fields.kind == CallerIdDbLocal) settings.SetLocalFileName(wide_to_utf8(name));
    return {};
}

struct Assignment {
    const SettingKey* key;
    std::string value;
};

int run_set(const Command& command) {
    std::vector<Assignment> assignments;
    for (const std::string& argument : command.arguments) {
        const size_t equals = argument.find('=');
        if (equals == std::string::npos) {
            report("'" + argument + "' is not KEY=VALUE");
            return ExitUsage;
        }
        const SettingKey* key = FindSettingKey(argument.substr(0, equals));
        if (!key) {
            report("unknown key '" + argument.substr(0, equals) +
                   "' (talvex-config --help lists them)");
            return ExitUsage;
        }
        for (const Assignment& earlier : assignments)
            if (earlier.key == key) {
                report(FullName(*key) + " given twice");
                return ExitUsage;
            }
        assignments.push_back({key, argument.substr(equals + 1)});
    }

    const std::string machine = machine_settings_file();
    if (command.file.empty() && machine.empty()) return ExitNotWritten;
    const std::string path = command.file.empty() ? machine : command.file;
    const bool machineFile = command.file.empty() || is_machine_file(path, machine);
    InstanceGuard guard;
    if (machineFile) {
        if (!may_change_machine_settings()) {
            report(NOT_PERMITTED);
            return ExitNotPermitted;
        }
        if (!guard.acquire()) {
            report("the settings sheet is open on this machine; nothing was changed");
            return ExitSheetOpen;
        }
    }

    ConsoleSettings stored;
    const Loaded loaded = load_settings(path, stored);
    ConsoleSettings edited = stored;
    bool callerIdPage = false;
    for (const Assignment& assignment : assignments)
        callerIdPage |= assignment.key->section == "CallerID";
    if (callerIdPage) apply_caller_id_page(edited);

    bool refused = false;
    for (const Assignment& assignment : assignments) {
        std::string value;
        const std::string refusal = checked_value(*assignment.key, assignment.value, value);
        if (!refusal.empty()) {
            report(FullName(*assignment.key) + "=" + assignment.value + ": " + refusal);
            refused = true;
        } else {
            StoreValue(edited, *assignment.key, value);
        }
    }
    if (refused) return ExitRefused;
    if (callerIdPage) {
        const std::string refusal = validate_caller_id_page(edited);
        if (!refusal.empty()) {
            report(refusal);
            return ExitRefused;
        }
    }

    const bool settingsChanged = !loaded.whole || !same_settings(stored, edited);
    const bool localKind = callerIdPage && edited.GetCallerIdDatabaseType() == CallerIdDbLocal;
    // The folder is made as the sheet makes it, only now that something is written.
    if (machineFile && (settingsChanged || localKind) && SettingsFolder(true).empty()) {
        report("the machine's settings folder could not be made");
        return ExitNotWritten;
    }

    // Applying the local kind makes sure its file exists, as the page does, before the
    // settings that name it are saved.
    bool localCreated = false;
    if (localKind) {
        const std::wstring name = utf8_to_wide_lenient(edited.GetLocalFileName());
        std::wstring local;
        if (machineFile) {
            wchar_t dataFolder[winutils::MAX_PATH_UNITS] = {};
            winutils::GetProgramDataPath(dataFolder, winutils::MAX_PATH_UNITS);
            local = LocalDatabasePath(dataFolder, name);
        } else {
            std::wstring folder;
            utf8_to_wide(std::filesystem::path(path).parent_path().string(), folder);
            local = AppendPathPiece(folder, Trimmed(name));
        }
        const std::string localPath = file_system_text(local);
        if (!localPath.empty() && !exists(localPath)) {
            if (!EnsureLocalDatabase(local)) {
                report("the local caller-ID file " + localPath + " could not be created");
                return ExitNotWritten;
            }
            localCreated = true;
        } else if (localPath.empty()) {
            report("the local caller-ID file's path cannot be made");
            return ExitNotWritten;
        }
    }

    if (settingsChanged) {
        // A file that could not be used whole may be a hand edit worth keeping.
        if (!loaded.whole && loaded.fileExists && !BackUpSettingsFile(path.c_str())) {
            report(path + ".bak could not be written; nothing was changed");
            return ExitNotWritten;
        }
        if (!SaveConsoleSettings(path.c_str(), edited)) {
            report(path + " could not be written");
            return ExitNotWritten;
        }
    }
    if (!settingsChanged && !localCreated) {
        print_line("unchanged");
        return ExitDone;
    }
    print_line("changed");
    std::wstring notice(kRestartNoticeFormat);
    notice.replace(notice.find(L"%ls"), 3, kProductName);
    print_line(wide_to_utf8(notice));
    return ExitDone;
}

int run_check(const Command& command) {
    const std::string path = reading_path(command);
    if (path.empty()) return ExitRefused;
    std::vector<SettingsProblem> problems;
    std::string error;
    if (!CheckSettingsFile(path, problems, error)) {
        report(error);
        return ExitRefused;
    }
    for (const SettingsProblem& problem : problems)
        print_line(path + (problem.line ? ":" + std::to_string(problem.line) : std::string()) +
                   ": " + problem.text);
    return problems.empty() ? ExitDone : ExitRefused;
}

int run_test_connection(const Command& command) {
    const std::string path = reading_path(command);
    if (path.empty()) return ExitRefused;
    ConsoleSettings settings;
    load_settings(path, settings);
    if (settings.GetCallerIdDatabaseType() != CallerIdDbServer)
        report(std::string("note: the caller-ID database kind is ") +
               std::string(WordOf(kDatabaseTypeWords, settings.GetCallerIdDatabaseType())) +
               "; the console does not use the server");

    // What the page hands the dialog: trimmed server and user, the port as shown.
    CallerIdFields fields;
    fields.kind = CallerIdDbServer;
    fields.server = Trimmed(utf8_to_wide_lenient(settings.GetAdmServer()));
    fields.port = NormalisedPort(utf8_to_wide_lenient(settings.GetDbmsTcpPort()));
    fields.dbmsAuthentication = settings.GetAuthentication() == DbmsAuthentication;
    fields.userName = Trimmed(utf8_to_wide_lenient(settings.GetUserId()));
    fields.password = utf8_to_wide_lenient(settings.GetPassword());
    std::wstring unused;
    if (const unsigned id = ValidateCallerIdFields(fields, unused)) {
        report(wide_to_utf8(LoadCachedString(id)));
        return ExitRefused;
    }
    DbmsConnectionSettings connection;
    connection.useWindowsAuthentication = fields.dbmsAuthentication ? 0 : 1;
    connection.server = fields.server;
    connection.port = std::to_wstring(*fields.port);
    connection.userName = fields.userName;
    connection.password = fields.password;

    ConnectionTestDetails details;
    const bool passed = RunConnectionTest(
        ClientLibraryFolder(), connection,
        [](const std::wstring& line) {
            print_line(wide_to_utf8(line));
            std::fflush(stdout);
        },
        command.verbose ? &details : nullptr);
    if (command.verbose)
        std::printf("\n%s", wide_to_utf8(DescribeConnectionTestDetails(details)).c_str());
    return passed ? ExitDone : ExitRefused;
}

int run_init() {
    if (!may_change_machine_settings()) {
        report(NOT_PERMITTED);
        return ExitNotPermitted;
    }
    const std::string folder = file_system_text(SettingsFolder(true));
    struct stat st {};
    if (folder.empty() || ::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        report("the machine's settings folder " + (folder.empty() ? std::string() : folder + " ") +
               "could not be made");
        return ExitNotWritten;
    }
    print_line(folder);
    return ExitDone;
}

}  // namespace

int RunAdminCommand(const Command& command) {
    switch (command.kind) {
        case CommandKind::Show:
            return run_show(command);
        case CommandKind::Get:
            return run_get(command);
        case CommandKind::Set:
            return run_set(command);
        case CommandKind::Check:
            return run_check(command);
        case CommandKind::TestConnection:
            return run_test_connection(command);
        case CommandKind::Init:
            return run_init();
        case CommandKind::RunSheet:
        case CommandKind::Help:
        case CommandKind::Version:
        case CommandKind::UsageError:
            break;
    }
    return ExitUsage;
}
