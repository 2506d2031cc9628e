#pragma once
// The diagnostic log's record and the three lines made from it. Byte layouts of
// the lines are fixed: peers parse them. Nothing here uses an object that the
// process's exit destroys, so a record can be written while it exits.

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>

namespace syserr {

constexpr size_t kMessageSize = 256;  // 255 characters and the terminator
constexpr size_t kFileSize = 128;
constexpr size_t kModuleSize = 256;
constexpr size_t kTimeSize = 32;
constexpr size_t kErrorTextSize = 256;
constexpr size_t kLineSize = 1024;
// The error kinds in bits 3..5 of the flags whose code has the system's text.
constexpr uint32_t kErrorKindPlatform = 1;

// One report as the outputs see it.
struct Record {
    wchar_t message[kMessageSize];
    wchar_t file[kFileSize];
    time_t time;
    uint32_t line;
    uint32_t pid;
    uint32_t tid;
    uint32_t flags;  // level in bits 0..2, error kind in bits 3..5
    uint32_t error;
    uint32_t sequence;
    const wchar_t* module;    // the executable's path
    const wchar_t* computer;  // looked up only when a syslog line is made
    wchar_t error_text[kErrorTextSize];
    wchar_t timestamp[kTimeSize];  // made only for the file and syslog lines
};

// The message: the format with its arguments, cut to kMessageSize - 1 characters.
void format_message(wchar_t* out, const wchar_t* format, va_list args);

// Keeps the last capacity - 1 characters of text: the end of a path names it best.
void copy_tail(wchar_t* destination, size_t capacity, const wchar_t* text);

// "%Y/%m/%d-%H:%M:%S UTC" (empty when the time cannot be shown).
void timestamp_text(time_t time, wchar_t* out);

// The system's text for a platform error code; empty for other kinds.
void error_text(uint32_t flags, uint32_t error, wchar_t* out);

// Builds a line in a fixed buffer. Text that does not fit is cut, and the line
// keeps its final line feed so that readers still see where it ends.
class LineBuilder {
public:
    LineBuilder& text(const wchar_t* s);
    LineBuilder& ch(wchar_t c);
    LineBuilder& dec(uint32_t value);
    LineBuilder& hex(uint32_t value, int min_digits);
    const wchar_t* finish();

private:
    wchar_t m_buffer[kLineSize];
    size_t m_length = 0;
};

// "PID:<pid> TID:<tid> <file>@<line>: <message>"
const wchar_t* console_line(const Record& r, LineBuilder& line);
// Tab-separated: sequence, PID, TID, module, file, line, flags, error, message,
// error text, timestamp.
const wchar_t* file_line(const Record& r, LineBuilder& line);
// Tab-separated like the file line, with the computer's name; only the first
// record carries the timestamp.
const wchar_t* syslog_line(const Record& r, LineBuilder& line);

// A line in the process locale's narrow text. A character the locale cannot
// represent becomes '?': a record is never dropped for its text. Lines fit the
// stack buffer unless they hold characters of more than four bytes; those go
// through the heap.
class NarrowLine {
public:
    explicit NarrowLine(const wchar_t* line);
    NarrowLine(const NarrowLine&) = delete;
    NarrowLine& operator=(const NarrowLine&) = delete;
    const char* data() const { return m_data; }
    size_t size() const { return m_size; }
    // Keeps at most `limit` bytes: whole UTF-8 characters, the last byte a line feed.
    void fit(size_t limit);

private:
    char m_stack[4 * kLineSize];
    std::string m_heap;
    char* m_data = m_stack;
    size_t m_size = 0;
};

}  // namespace syserr
