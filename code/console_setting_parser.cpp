#include "code/console_setting_parser.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>

#include "code/configparser.h"
#include "code/console_setting_keys.h"
#include "code/syserrx.h"

namespace {

const std::string FILE_INFO = "FileInfo";
constexpr unsigned int FILE_VERSION = 1;

// Keeps the first reason given; a null reason collects nothing.
class Reason {
public:
    explicit Reason(std::string* text) : m_text(text) {}
    void note(const std::string& text) {
        if (m_text && m_text->empty()) *m_text = text;
    }
    void missing(const std::string& section, const char* key) {
        note("The key \"" + std::string(key) + "\" is missing from [" + section + "].");
    }
    // "Line 7: " for a key read from the file.
    static std::string at(const ConfigParser& parser, const std::string& section, const char* key) {
        const auto s = parser.sections().find(section);
        if (s == parser.sections().end()) return {};
        const auto o = s->second.options.find(key);
        if (o == s->second.options.end() || o->second.line == 0) return {};
        return "Line " + std::to_string(o->second.line) + ": ";
    }

private:
    std::string* m_text;
};

std::string problem_reason(const ConfigParser::Problem& p) {
    const std::string line = "Line " + std::to_string(p.line) + ": ";
    switch (p.kind) {
        case ConfigParser::Problem::DuplicateSection:
            return line + "the section [" + p.section + "] appears twice.";
        case ConfigParser::Problem::DuplicateKey:
            return line + "the key \"" + p.key + "\" appears twice in [" + p.section + "].";
        case ConfigParser::Problem::OutsideSection:
            break;
    }
    return line + "the key \"" + p.key + "\" stands outside any section and was ignored.";
}

// Why `read` took nothing when it listed no duplicate: what is at the path.
std::string entry_reason(const char* path, bool& exists) {
    exists = false;
    if (!path) return "No file name was given.";
    struct stat info;
    if (lstat(path, &info) != 0) return "The file does not exist.";
    exists = true;
    if (S_ISLNK(info.st_mode)) return "The file is a symbolic link.";
    if (S_ISDIR(info.st_mode)) return "The path names a folder, not a file.";
    if (!S_ISREG(info.st_mode)) return "The path names a special file, not a regular file.";
    const int fd = open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY);
    if (fd < 0) {
        char buffer[256];
        return std::string("The file cannot be opened: ") +
               strerror_r(errno, buffer, sizeof buffer) + ".";
    }
    close(fd);
    return "The file could not be read to its end.";
}

// An enumeration's word, read through the one table of its words.
template <typename Enum, size_t N>
bool load_word(const ConfigParser& parser, const std::string& section, const std::string& key,
               const EnumWord<Enum> (&table)[N], void (ConsoleSettings::*set)(const Enum&),
               ConsoleSettings& settings, Reason& reason) {
    std::string word;
    if (!parser.get(section, key, word)) {
        reason.missing(section, key.c_str());
        return false;
    }
    if (const std::optional<Enum> value = ValueOfWord(table, word)) {
        (settings.*set)(*value);
        return true;
    }
    syserr_report(SYSERR_FILE, __LINE__, 4,
                  L"An invalid value for %s has been read from the Talvex settings file: %s",
                  key.c_str(), word.c_str());
    reason.note(Reason::at(parser, section, key.c_str()) + "\"" + word +
                "\" is not a valid value of \"" + key + "\" in [" + section + "].");
    return false;
}

bool load_value(const ConfigParser& parser, const SettingKey& entry, ConsoleSettings& settings,
                Reason& reason) {
    const std::string section(entry.section);
    const std::string key(entry.key);
    switch (entry.kind) {
        case SettingKind::Authentication:
            return load_word(parser, section, key, kAuthenticationWords,
                             &ConsoleSettings::SetAuthentication, settings, reason);
        case SettingKind::DatabaseType:
            return load_word(parser, section, key, kDatabaseTypeWords,
                             &ConsoleSettings::SetCallerIdDatabaseType, settings, reason);
        case SettingKind::Switch: {
            bool on = false;
            if (!parser.get_bool(section, key, on)) break;
            entry.turn(settings, on);
            return true;
        }
        case SettingKind::Language: {
            unsigned int locale = 0;
            if (parser.get(section, key, locale)) {
                settings.SetLanguageLocale(locale);
                return true;
            }
            if (!parser.has_option(section, key)) break;
            reason.note(Reason::at(parser, section, key.c_str()) + "the key \"" + key + "\" in [" +
                        section + "] holds no number.");
            return false;
        }
        default: {
            std::string value;
            if (!parser.get(section, key, value)) break;
            entry.storeText(settings, value);
            return true;
        }
    }
    reason.missing(section, key.c_str());
    return false;
}

bool load_values(const ConfigParser& parser, ConsoleSettings& settings, Reason& reason) {
    unsigned int version = 0;
    bool result = parser.get(FILE_INFO, "version", version) && version == FILE_VERSION;
    if (!parser.has_option(FILE_INFO, "version")) {
        reason.missing(FILE_INFO, "version");
    } else if (!result) {
        reason.note(Reason::at(parser, FILE_INFO, "version") +
                    "the key \"version\" in [FileInfo] does not hold 1.");
    }
    for (const SettingKey& entry : kSettingKeys)
        result = load_value(parser, entry, settings, reason) && result;
    return result;
}

// Logs a value the file cannot hold; the save then writes nothing.
bool refused(const char* key) {
    syserr_report(SYSERR_FILE, __LINE__, 4,
                  L"The setting %s cannot be stored in the Talvex settings file", key);
    return false;
}

// An enumeration's word, from the same table the load reads; a value outside it is
// logged and nothing is stored.
template <typename Enum, size_t N>
bool save_word(ConfigParser& parser, const std::string& section, const std::string& key,
               const EnumWord<Enum> (&table)[N], Enum value) {
    const std::string_view word = WordOf(table, value);
    if (word.empty()) {
        const std::wstring message =
            L"Unexpected value for the setting " + std::wstring(key.begin(), key.end());
        LogValue(SYSERR_FILE, __LINE__, 4, value, message.c_str());
        return false;
    }
    return parser.set(section, key, std::string(word), true) || refused(key.c_str());
}

bool save_value(ConfigParser& parser, const SettingKey& entry, const ConsoleSettings& settings) {
    const std::string section(entry.section);
    const std::string key(entry.key);
    bool stored = false;
    switch (entry.kind) {
        case SettingKind::Authentication:
            return save_word(parser, section, key, kAuthenticationWords,
                             settings.GetAuthentication());
        case SettingKind::DatabaseType:
            return save_word(parser, section, key, kDatabaseTypeWords,
                             settings.GetCallerIdDatabaseType());
        case SettingKind::Switch:
            stored = parser.set_bool(section, key, entry.isOn(settings), true);
            break;
        case SettingKind::Language:
            stored = parser.set(section, key,
                                static_cast<unsigned long>(settings.GetLanguageLocale()), true);
            break;
        default:
            stored = parser.set(section, key, entry.text(settings), true);
    }
    return stored || refused(key.c_str());
}

}  // namespace

bool LoadConsoleSettings(const char* path, ConsoleSettings& settings) {
    return LoadConsoleSettings(path, settings, nullptr);
}

bool LoadConsoleSettings(const char* path, ConsoleSettings& settings, SettingsLoadReport* report) {
    settings.SetDefaults();
    bool result = false;
    std::string reason_text;
    Reason reason(report ? &reason_text : nullptr);
    bool exists = false;
    {
        ConfigParser parser(true);
        const bool read = parser.read(path);
        if (report) {
            const auto& problems = parser.problems();
            // A failed read names the duplicate that made it fail.
            const auto first = std::find_if(problems.begin(), problems.end(), [&](const auto& p) {
                return read || p.kind != ConfigParser::Problem::OutsideSection;
            });
            if (first != problems.end()) {
                exists = true;
                reason.note(problem_reason(*first));
            } else if (!read) {
                reason.note(entry_reason(path, exists));
            } else {
                exists = true;
            }
        }
        // A file read with errors is not used at all: which of two values was
        // meant cannot be told.
        if (read) result = load_values(parser, settings, reason);
    }
    settings.m_changed = false;
    if (report) {
        report->fileExists = exists;
        report->reason = std::move(reason_text);
    }
    return result;
}

bool SaveConsoleSettings(const char* path, const ConsoleSettings& settings) {
    ConfigParser parser(true);
    // The old file stays whole unless every value can be stored: a file written
    // without one of them would lose that setting for good.
    if (!parser.set(FILE_INFO, "version", FILE_VERSION, true)) return refused("version");

    for (const SettingKey& entry : kSettingKeys)
        if (!save_value(parser, entry, settings)) return false;

    return path && parser.write(path, false);
}
