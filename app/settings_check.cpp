#include "app/settings_check.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>

#include "app/caller_id_rules.h"
#include "app/setting_values.h"
#include "code/char2wchar.h"
#include "code/configparser.h"

namespace {

std::string quoted(const std::string& value) { return "'" + value + "'"; }

// The loader reads a switch by its first letters or leading digits, so "yes" or
// "enabled" silently mean off; only the words it was meant to read pass.
bool is_switch_word(std::string value) {
    while (!value.empty() && (value.back() == ' ' || value.back() == '\t')) value.pop_back();
    if (!value.empty() &&
        std::all_of(value.begin(), value.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return true;
    std::transform(value.begin(), value.end(), value.begin(), [](char c) {
        return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    });
    return value == "true" || value == "false" || value == "on" || value == "off";
}

// `number` is the value read as the loader reads a number; `isNumber` false when it is none.
std::string problem_of_value(const SettingKey& key, const std::string& value, bool isNumber,
                             unsigned number) {
    const std::string name = FullName(key);
    switch (key.kind) {
        case SettingKind::Authentication:
            if (!ValueOfWord(kAuthenticationWords, value))
                return "invalid word " + quoted(value) + " for " + name + " (Windows or DBMS)";
            break;
        case SettingKind::DatabaseType:
            if (!ValueOfWord(kDatabaseTypeWords, value))
                return "invalid word " + quoted(value) + " for " + name +
                       " (None, Local or Server)";
            break;
        case SettingKind::Switch:
            if (!is_switch_word(value))
                return "invalid word " + quoted(value) + " for " + name + " (True or False)";
            break;
        case SettingKind::Port: {
            const std::optional<uint32_t> port = ParsePortText(utf8_to_wide_lenient(value));
            if (!port) return "port " + quoted(value) + " is no number";
            if (!PortInRange(*port))
                return "port " + std::to_string(*port) + " is out of range 1-65535";
            break;
        }
        case SettingKind::Language:
            // Read as the loader reads it; what it takes must name a language.
            if (!isNumber || !IsLanguageIdentifier(number))
                return quoted(value) + " for " + name + " is no language identifier";
            break;
        case SettingKind::Text:
        case SettingKind::LocalFileName:
        case SettingKind::UserName:
        case SettingKind::Password:
            break;
    }
    return {};
}

}  // namespace

bool CheckSettingsFile(const std::string& path, std::vector<SettingsProblem>& problems,
                       std::string& error) {
    problems.clear();
    // The parser answers a missing file and a broken one alike; a person needs to know which.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        error = path + ": " + std::strerror(errno);
        return false;
    }
    ::close(fd);

    ConfigParser parser(true);
    if (!parser.read(path.c_str()) && parser.problems().empty()) {
        error = path + ": the file could not be read to its end";
        return false;
    }

    for (const ConfigParser::Problem& problem : parser.problems()) {
        switch (problem.kind) {
            case ConfigParser::Problem::DuplicateSection: {
                const auto first = parser.sections().find(problem.section);
                problems.push_back(
                    {problem.line,
                     "duplicate section [" + problem.section + "]" +
                         (first != parser.sections().end() && first->second.line
                              ? " (first at line " + std::to_string(first->second.line) + ")"
                              : std::string())});
                break;
            }
            case ConfigParser::Problem::DuplicateKey:
                problems.push_back(
                    {problem.line, "duplicate key " + problem.section + "." + problem.key});
                break;
            case ConfigParser::Problem::OutsideSection:
                problems.push_back({problem.line, "line outside any section"});
                break;
        }
    }

    const auto& sections = parser.sections();
    const auto version_section = sections.find("FileInfo");
    const ConfigParser::Option* version = nullptr;
    if (version_section != sections.end()) {
        const auto found = version_section->second.options.find("version");
        if (found != version_section->second.options.end()) version = &found->second;
    }
    if (!version) {
        problems.push_back({0, "missing key FileInfo.version"});
    } else {
        unsigned number = 0;
        if (!parser.get("FileInfo", "version", number) || number != 1)
            problems.push_back(
                {version->line, "version is " + quoted(version->value) + ", expected 1"});
    }

    for (const SettingKey& key : kSettingKeys) {
        const auto section = sections.find(key.section);
        if (section == sections.end()) {
            problems.push_back({0, "missing key " + FullName(key)});
            continue;
        }
        const auto option = section->second.options.find(key.key);
        if (option == section->second.options.end()) {
            problems.push_back({0, "missing key " + FullName(key)});
            continue;
        }
        unsigned number = 0;
        const bool isNumber = parser.get(std::string(key.section), std::string(key.key), number);
        std::string text = problem_of_value(key, option->second.value, isNumber, number);
        if (!text.empty()) problems.push_back({option->second.line, std::move(text)});
    }

    std::stable_sort(problems.begin(), problems.end(),
                     [](const SettingsProblem& a, const SettingsProblem& b) {
                         // Problems without a line go last.
                         return (a.line ? a.line : UINT32_MAX) < (b.line ? b.line : UINT32_MAX);
                     });
    return true;
}
