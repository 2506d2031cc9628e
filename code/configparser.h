#pragma once
// ConfigParser: reads an INI text file into memory, answers lookups and typed
// reads, takes changes, and writes the whole content back in one fixed layout.
//
// Bytes, not characters: file names, section names, keys, values and comments
// are 8-bit strings kept and compared byte for byte (case-sensitive). Nothing is
// quoted, escaped or interpreted; NUL bytes inside a line are kept like any other.
//
// Reading (`read`)
//   Lines end with LF; a CR just before the LF belongs to the line end. After
//   trimming on the left (and on the right unless trailing whitespace is kept),
//   a line is
//     - blank: ignored, not kept;
//     - a comment, starting with '#' or ';': kept, whole, and attached to the
//       section header or key line that follows it; comments after the last key
//       or header are kept apart as trailing comments;
//     - a section header "[name]": the name is the text up to the first ']',
//       trimmed; anything after that ']' is ignored. "[name" without ']' is
//       ignored (pending comments stay pending);
//     - a key line "key = value" or "key: value": split at the first '=' or ':';
//       the key is trimmed, the value trimmed on the left. No inline comments:
//       in "k = a ; b" the value is "a ; b". A line without a separator is
//       ignored and the comments above it are dropped.
//   `read` answers true only when the file was opened and read to its end and no
//   line was counted as an error. Errors, which never stop the reading:
//     - a section that already exists (also one held from an earlier `read`):
//       the first one is kept whole, the new one dropped;
//     - a key that already exists in its section: the first value and its
//       comments are kept, the new line dropped.
//   Key lines before the first section header, or under a header with an empty
//   name "[]", belong to no section: they are dropped and logged (one record per
//   read), but are no error, so one stray line does not cost the rest of the file.
//   Every duplicate and every dropped key line is listed, with its line number,
//   in `problems()`.
//   A missing file (or a path through something that is no folder): false, nothing
//   changes (`problems()` is empty), nothing is logged. A symbolic link at the name
//   is never followed: it is refused like a file that cannot be opened, and logged.
//   A folder, a special file or a file that cannot be opened: false, nothing
//   changes but the remembered file name. A read error in the middle of the file:
//   what was read so far is kept and the answer is false. Content already held is
//   not cleared: reading adds to it.
//
// Writing (`write`)
//   Sections in the order they were first added; above each header its comment
//   lines, or the 79-character line "# ---...---" when it has none; then each key
//   in ascending byte order, preceded by its comment lines, as "key = value";
//   then the trailing comments. Every line ends with CR LF; no blank lines.
//   The file is replaced atomically (AtomicFileWriter, Commit::Replace): the
//   content goes to a new file in the same folder, is synced, and is renamed over
//   the old name, then the folder is synced. On any failure the answer is false,
//   the old file is left whole and the parser stays modified. A symbolic link at
//   the name is replaced by the file, never written through; a device, a FIFO or a
//   socket there is refused and left as it is. The new file gets the
//   old file's permission bits and ACL entries (and owner and group where the
//   process may set them); a file that did not exist gets what any new file in that
//   folder gets (0666 through the umask, or the folder's default ACL). When the
//   folder takes no new file but the old file is writable, the file is rewritten in
//   place instead.
//   A file written here reads back to the same content, except that a section
//   without comments gains the separator line as its comment; writing again then
//   gives the same bytes.
//
// Changing (`add_section`, `set`)
//   A comment argument is trimmed and, unless it starts with '#' or ';', gets
//   "# " in front. Names and values that the file could not carry are refused
//   (false, nothing stored): any text holding a line feed; a section name that is
//   empty, holds ']' or has blanks at either end; a key that holds '=' or ':',
//   starts with '#', ';' or '[', or has blanks at either end. A value's leading
//   blanks are written but not read back.
//
// Failures inside an operation (such as running out of memory) are reported to
// the diagnostic log and answered with false; no exception leaves the parser.

#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

class ConfigParser {
public:
    struct Option {
        std::string value;
        std::vector<std::string> comments;  // whole lines written above the key line
        unsigned line = 0;                  // 1-based line of the key line; 0 when set in memory
    };
    struct Section {
        std::map<std::string, Option, std::less<>> options;  // byte-wise key order
        std::vector<std::string> comments;                   // whole lines written above the header
        unsigned line = 0;  // 1-based line of the header; 0 when added in memory
    };
    // A line of the last `read` that was not taken.
    struct Problem {
        // OutsideSection: a key line before any header or under "[]" (dropped, not an
        // error for read's result).
        enum Kind { DuplicateSection, DuplicateKey, OutsideSection };
        Kind kind;
        unsigned line;        // 1-based line of the header or key line
        std::string section;  // the section's name ("" outside any section)
        std::string key;      // the key; "" for DuplicateSection
    };

    // Every caller in this system keeps trailing whitespace: values then keep the
    // blanks on their right exactly as the file holds them.
    explicit ConfigParser(bool keep_trailing_whitespace);
    // A parser that was read from a file and changed since its last successful
    // write saves itself there (a forced write); a failure is logged.
    virtual ~ConfigParser();
    ConfigParser(const ConfigParser&) = delete;
    ConfigParser& operator=(const ConfigParser&) = delete;

    // See "Reading" above. A null name is logged and answered with false. The
    // first name given to `read` that names an entry (even one that could not be
    // opened, but not a missing file) is remembered and is where `write` and the
    // destructor write when given no name.
    bool read(const char* filename);

    // Writes everything when something changed since construction or the last
    // successful write, or when `forced`; false, touching nothing, otherwise.
    // A null or empty name means the remembered one (false when there is none).
    bool write(const char* filename, bool forced);

    bool has_section(const std::string& section_name) const;
    bool has_option(const std::string& section_name, const std::string& key) const;

    // False when the section exists already (nothing changes) or the name is refused.
    bool add_section(const std::string& section_name, const std::string* comment = nullptr);

    // Stores the value, replacing the key's comment lines by the comment given
    // (none when null). With `create_section` a missing section is added first;
    // without it a missing section stores nothing and answers false.
    bool set(const std::string& section_name, const std::string& key, const std::string& value,
             bool create_section, const std::string* comment = nullptr);
    // Decimal digits, stored through the text form.
    bool set(const std::string& section_name, const std::string& key, unsigned int value,
             bool create_section, const std::string* comment = nullptr);
    bool set(const std::string& section_name, const std::string& key, unsigned long value,
             bool create_section, const std::string* comment = nullptr);
    bool set(const std::string& section_name, const std::string& key, const char* value,
             bool create_section, const std::string* comment = nullptr);
    // "True" or "False".
    bool set_bool(const std::string& section_name, const std::string& key, bool value,
                  bool create_section, const std::string* comment = nullptr);

    // True and the value copied when the key exists; false and `value` untouched otherwise.
    bool get(const std::string& section_name, const std::string& key, std::string& value) const;
    // True when the key exists and its value starts, after blanks, with an unsigned
    // decimal number that fits, read as stream extraction reads it: an optional '+',
    // the digits, and whatever follows them ignored ("12abc" gives 12, "+5" gives 5).
    // False, with `value` untouched, when the key is missing, there are no digits,
    // there is a minus sign, or the number does not fit ("-1", "", 4294967296).
    bool get(const std::string& section_name, const std::string& key, unsigned int& value) const;
    // True when the key exists. `value` becomes true for a value starting with
    // "true" or "on" and false for one starting with "false" or "off" (any case);
    // any other value is read as its leading decimal digits, true when not 0
    // ("1", "17" true; "0", "", "yes", "-1", " 1" false).
    bool get_bool(const std::string& section_name, const std::string& key, bool& value) const;

    // Read-only views, for callers that walk the whole content.
    const std::map<std::string, Section, std::less<>>& sections() const { return m_sections; }
    const std::vector<std::string>& section_order() const { return m_section_order; }
    const std::vector<std::string>& trailing_comments() const { return m_trailing_comments; }
    const std::string& filename() const { return m_filename; }
    bool modified() const { return m_modified; }
    // The duplicates and dropped lines of the last `read`, in file order.
    const std::vector<Problem>& problems() const { return m_problems; }

private:
    class LineParser;

    bool write_file(const std::string& target) const;
    // The option, or null when the section or the key is missing.
    const Option* find(std::string_view section_name, std::string_view key) const;

    std::map<std::string, Section, std::less<>> m_sections;
    std::vector<std::string> m_section_order;
    std::vector<std::string> m_trailing_comments;
    std::vector<Problem> m_problems;
    std::string m_filename;
    bool m_modified = false;
    bool m_keep_trailing_whitespace;
};
