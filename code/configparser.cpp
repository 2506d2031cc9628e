#include "code/configparser.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <charconv>
#include <string_view>
#include <utility>

#include "code/atomic_file.h"
#include "code/file_io.h"
#include "code/syserrx.h"
#include "code/text_helpers.h"

namespace {

constexpr std::string_view WHITESPACE = " \t\r\n";
constexpr std::string_view SEPARATOR_LINE =
    "# -----------------------------------------------------------------------------";
constexpr std::string_view LINE_END = "\r\n";

std::string_view trim(std::string_view text, bool right) {
    const size_t first = text.find_first_not_of(WHITESPACE);
    if (first == std::string_view::npos) return {};
    if (!right) return text.substr(first);
    const size_t last = text.find_last_not_of(WHITESPACE);
    return text.substr(first, last - first + 1);
}

bool is_comment_start(char c) { return c == '#' || c == ';'; }

bool has_outer_blanks(std::string_view text) {
    return !text.empty() && (WHITESPACE.find(text.front()) != std::string_view::npos ||
                             WHITESPACE.find(text.back()) != std::string_view::npos);
}

// The names a file can carry and read back as the same name.
bool is_writable_section_name(std::string_view name) {
    return !name.empty() && !has_outer_blanks(name) && name.find_first_of("]\n") == name.npos;
}
bool is_writable_key(std::string_view key) {
    if (has_outer_blanks(key) || key.find_first_of("=:\n") != key.npos) return false;
    return key.empty() || (!is_comment_start(key.front()) && key.front() != '[');
}

// A caller's comment as the one line stored: "" for none or all blanks.
bool make_comment_list(const std::string* comment, std::vector<std::string>& list) {
    list.clear();
    if (!comment) return true;
    if (comment->find('\n') != std::string::npos) return false;
    const std::string_view text = trim(*comment, true);
    if (text.empty()) return true;
    list.emplace_back(is_comment_start(text.front()) ? std::string(text)
                                                     : "# " + std::string(text));
    return true;
}

// Runs `body`; a failure it throws (such as running out of memory) is logged with
// `what` and answered with false, so no exception leaves the parser.
template <typename Body>
bool guarded(const wchar_t* what, Body&& body) noexcept {
    try {
        return body();
    } catch (...) {
        syserr_report(SYSERR_FILE, __LINE__, 4, L"exception detected in ConfigParser::%ls", what);
        return false;
    }
}

// One record however many lines were dropped: a hostile file must not flood the log.
void report_outside_lines(const char* filename,
                          const std::vector<ConfigParser::Problem>& problems) {
    unsigned count = 0, first = 0;
    for (const ConfigParser::Problem& problem : problems) {
        if (problem.kind != ConfigParser::Problem::OutsideSection) continue;
        if (count++ == 0) first = problem.line;
    }
    if (count == 0) return;
    syserr_report(SYSERR_FILE, __LINE__, 4,
                  L"%u key line(s) outside any section ignored in ini file [%s], the first at "
                  L"line %u",
                  count, filename, first);
}

}  // namespace

// The state of one `read`: the section being filled, the comments waiting for
// the line they belong to, the line number, and the count of lines in error.
class ConfigParser::LineParser {
public:
    explicit LineParser(ConfigParser& parser) : m_parser(parser) {}

    void line(std::string_view text) {
        ++m_line;
        text = trim(text, !m_parser.m_keep_trailing_whitespace);
        if (text.empty()) return;
        if (is_comment_start(text.front())) {
            m_pending.emplace_back(text);
        } else if (text.front() == '[') {
            header(text);
        } else {
            key_line(text);
        }
    }

    // Commits the last section and hands the leftover comments to the parser.
    void finish() {
        commit();
        m_parser.m_trailing_comments = std::move(m_pending);
        m_pending.clear();
    }

    size_t errors() const { return m_errors; }

private:
    void header(std::string_view text) {
        const size_t close = text.find(']');
        if (close == std::string_view::npos) return;
        commit();
        m_name.assign(trim(text.substr(1, close - 1), true));
        m_header_line = m_line;
        // "[]" names no section a file could keep: its keys are dropped.
        m_in_section = !m_name.empty();
        // The first section of a name wins; the earlier one is committed by now.
        m_duplicate = m_in_section && m_parser.m_sections.count(m_name) != 0;
        if (m_duplicate) problem(Problem::DuplicateSection, {});
        m_comments = std::move(m_pending);
        m_pending.clear();
    }

    void key_line(std::string_view text) {
        const size_t separator = text.find_first_of("=:");
        if (separator != std::string_view::npos) {
            const std::string_view key = trim(text.substr(0, separator), true);
            if (!m_in_section) {
                // Not an error: the rest of the file is still good.
                m_parser.m_problems.push_back(
                    {Problem::OutsideSection, m_line, m_name, std::string(key)});
            } else {
                insert(key, trim(text.substr(separator + 1), !m_parser.m_keep_trailing_whitespace));
            }
        }
        m_pending.clear();
    }

    void insert(std::string_view key, std::string_view value) {
        // Files written here list keys in order, so appending at the end is the usual case.
        auto hint = m_options.end();
        if (!m_options.empty() && std::prev(hint)->first >= key) {
            hint = m_options.lower_bound(key);
            if (hint != m_options.end() && hint->first == key) {
                problem(Problem::DuplicateKey, key);  // the first value of a key wins
                return;
            }
        }
        auto it = m_options.emplace_hint(hint, std::piecewise_construct, std::forward_as_tuple(key),
                                         std::forward_as_tuple());
        it->second.value.assign(value);
        it->second.line = m_line;
        if (!m_pending.empty()) it->second.comments = m_pending;
    }

    void problem(Problem::Kind kind, std::string_view key) {
        m_parser.m_problems.push_back({kind, m_line, m_name, std::string(key)});
        ++m_errors;
    }

    void commit() {
        if (m_in_section && !m_duplicate) {
            auto [it, inserted] = m_parser.m_sections.try_emplace(m_name);
            if (inserted) {
                it->second.options = std::move(m_options);
                it->second.comments = std::move(m_comments);
                it->second.line = m_header_line;
                m_parser.m_section_order.push_back(m_name);
            }
        }
        m_in_section = false;
        m_duplicate = false;
        m_options.clear();
        m_comments.clear();
    }

    ConfigParser& m_parser;
    std::string m_name;
    bool m_in_section = false;
    bool m_duplicate = false;
    unsigned m_line = 0;
    unsigned m_header_line = 0;
    std::map<std::string, Option, std::less<>> m_options;
    std::vector<std::string> m_comments;
    std::vector<std::string> m_pending;
    size_t m_errors = 0;
};

ConfigParser::ConfigParser(bool keep_trailing_whitespace)
    : m_keep_trailing_whitespace(keep_trailing_whitespace) {}

ConfigParser::~ConfigParser() {
    if (!m_modified || m_filename.empty()) return;
    if (!write(m_filename.c_str(), true)) {
        syserr_report(SYSERR_FILE, __LINE__, 4, L"Failed forced writing in file named [%s]",
                      m_filename.c_str());
    }
}

bool ConfigParser::read(const char* filename) {
    if (!filename) {
        SYSERR_VERIFY_FAILED(L"filename");
        return false;
    }
    m_problems.clear();
    // Non-blocking so a FIFO cannot hold the open; anything but a plain file is
    // refused. The settings folder is writable by every user, so a link there may
    // point anywhere: it is never followed.
    const int fd = ::open(filename, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY);
    const int open_error = errno;
    if (fd < 0 && (open_error == ENOENT || open_error == ENOTDIR)) return false;
    const bool named = guarded(L"read", [&] {
        if (m_filename.empty()) m_filename = filename;
        return true;
    });
    if (fd < 0 && open_error == ELOOP) {
        syserr_report(SYSERR_FILE, __LINE__, 4,
                      L"Refused to read ini file [%s]: it is a symbolic link", filename);
    }
    struct stat info;
    if (fd < 0 || !named || fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        if (fd >= 0) close(fd);
        return false;
    }
    LineParser lines(*this);
    const bool complete = guarded(L"read", [&] {
        if (read_lines(fd, [&lines](std::string_view line) { lines.line(line); }) == 0) return true;
        syserr_report(SYSERR_FILE, __LINE__, 4, L"exception detected when reading ini file [%s]",
                      filename);
        return false;
    });
    const bool kept = guarded(L"read", [&] { return lines.finish(), true; });
    close(fd);
    report_outside_lines(filename, m_problems);
    return complete && kept && lines.errors() == 0;
}

bool ConfigParser::write(const char* filename, bool forced) {
    if (!m_modified && !forced) return false;
    return guarded(L"write", [&] {
        const std::string target = filename && *filename ? std::string(filename) : m_filename;
        if (target.empty() || !write_file(target)) return false;
        m_modified = false;
        return true;
    });
}

bool ConfigParser::write_file(const std::string& target) const {
    AtomicFileWriter out;
    if (!out.open(target)) return false;
    auto line = [&out](std::string_view text) {
        out.append(text);
        out.append(LINE_END);
    };
    for (const std::string& name : m_section_order) {
        const Section& section = m_sections.find(name)->second;
        if (section.comments.empty()) line(SEPARATOR_LINE);
        for (const std::string& comment : section.comments) line(comment);
        out.append("[");
        out.append(name);
        line("]");
        for (const auto& [key, option] : section.options) {
            for (const std::string& comment : option.comments) line(comment);
            out.append(key);
            out.append(" = ");
            line(option.value);
        }
    }
    for (const std::string& comment : m_trailing_comments) line(comment);
    return out.commit();
}

bool ConfigParser::has_section(const std::string& section_name) const {
    return m_sections.find(section_name) != m_sections.end();
}

bool ConfigParser::has_option(const std::string& section_name, const std::string& key) const {
    return find(section_name, key) != nullptr;
}

const ConfigParser::Option* ConfigParser::find(std::string_view section_name,
                                               std::string_view key) const {
    const auto section = m_sections.find(section_name);
    if (section == m_sections.end()) return nullptr;
    const auto option = section->second.options.find(key);
    return option == section->second.options.end() ? nullptr : &option->second;
}

bool ConfigParser::add_section(const std::string& section_name, const std::string* comment) {
    return guarded(L"add_section", [&] {
        Section section;
        if (!is_writable_section_name(section_name) || m_sections.count(section_name) ||
            !make_comment_list(comment, section.comments))
            return false;
        // Whatever can fail comes first: the order list and the map hold the same names.
        std::string name = section_name;
        m_section_order.reserve(m_section_order.size() + 1);
        m_sections.emplace(section_name, std::move(section));
        m_section_order.push_back(std::move(name));
        m_modified = true;
        return true;
    });
}

bool ConfigParser::set(const std::string& section_name, const std::string& key,
                       const std::string& value, bool create_section, const std::string* comment) {
    return guarded(L"set", [&] {
        std::vector<std::string> comments;
        if (!is_writable_key(key) || value.find('\n') != std::string::npos ||
            !make_comment_list(comment, comments))
            return false;
        auto section = m_sections.find(section_name);
        if (section == m_sections.end()) {
            if (!create_section) return false;
            if (!add_section(section_name)) {
                SYSERR_VERIFY_FAILED(L"add_section(section_name)");
                return false;
            }
            section = m_sections.find(section_name);
        }
        Option& option = section->second.options[key];
        option.value = value;
        option.comments = std::move(comments);
        option.line = 0;
        m_modified = true;
        return true;
    });
}

bool ConfigParser::set(const std::string& section_name, const std::string& key, unsigned int value,
                       bool create_section, const std::string* comment) {
    return set(section_name, key, static_cast<unsigned long>(value), create_section, comment);
}

bool ConfigParser::set(const std::string& section_name, const std::string& key, unsigned long value,
                       bool create_section, const std::string* comment) {
    char digits[24];
    const auto result = std::to_chars(digits, digits + sizeof digits, value);
    return guarded(L"set", [&] {
        return set(section_name, key, std::string(digits, result.ptr), create_section, comment);
    });
}

bool ConfigParser::set(const std::string& section_name, const std::string& key, const char* value,
                       bool create_section, const std::string* comment) {
    return value && guarded(L"set", [&] {
               return set(section_name, key, std::string(value), create_section, comment);
           });
}

bool ConfigParser::set_bool(const std::string& section_name, const std::string& key, bool value,
                            bool create_section, const std::string* comment) {
    return set(section_name, key, value ? "True" : "False", create_section, comment);
}

bool ConfigParser::get(const std::string& section_name, const std::string& key,
                       std::string& value) const {
    const Option* option = find(section_name, key);
    return option && guarded(L"get", [&] {
               value = option->value;
               return true;
           });
}

bool ConfigParser::get(const std::string& section_name, const std::string& key,
                       unsigned int& value) const {
    std::string text;
    if (!get(section_name, key, text)) return false;
    // Stream extraction's reading, without its wrap-around of a negative number.
    const char* p = text.data();
    const char* const end = p + text.size();
    while (p != end && std::isspace(static_cast<unsigned char>(*p))) ++p;
    if (p != end && *p == '+') ++p;
    if (p == end || *p < '0' || *p > '9') return false;
    unsigned int number = 0;
    if (std::from_chars(p, end, number).ec != std::errc()) return false;
    value = number;
    return true;
}

bool ConfigParser::get_bool(const std::string& section_name, const std::string& key,
                            bool& value) const {
    std::string text;
    if (!get(section_name, key, text)) return false;
    const char* word = text.c_str();
    if (str_nicmp(word, "true", 4) == 0 || str_nicmp(word, "on", 2) == 0) {
        value = true;
    } else if (str_nicmp(word, "false", 5) == 0 || str_nicmp(word, "off", 3) == 0) {
        value = false;
    } else {
        value = parse_decimal(word) != 0;
    }
    return true;
}
