// The diagnostic log: one record per report, numbered, written to the outputs that
// SYSERRLOG selects. Byte layouts of the three lines are fixed: peers parse them.
#include "code/syserrx.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <cwchar>
#include <mutex>
#include <string>

#include "code/char2wchar.h"
#include "code/computername.h"
#include "code/environ.h"
#include "code/syslog_sink.h"
#include "code/text_helpers.h"

namespace {

constexpr uint32_t kConsole = 1;
constexpr uint32_t kFile = 2;
constexpr uint32_t kComplement = 4;
constexpr uint32_t kSyslog = 8;

constexpr size_t kMessageSize = 256;  // 255 characters and the terminator
constexpr size_t kFileSize = 128;
constexpr size_t kModuleSize = 256;
constexpr size_t kTimeSize = 32;
constexpr size_t kErrorTextSize = 256;
constexpr size_t kLineSize = 1024;
constexpr uint16_t kDefaultSyslogPort = 514;
constexpr unsigned kSyslogFacility = 1;
constexpr uint32_t kErrorKindPlatform = 1;

struct Record {
    wchar_t message[kMessageSize];
    wchar_t file[kFileSize];
    time_t time;
    uint32_t line;
    uint32_t pid;
    uint32_t tid;
    uint32_t flags;
    uint32_t error;
};

// Constant-initialised by the library, so it exists before any static
// initialiser elsewhere can report.
std::recursive_mutex g_lock;
bool g_initialised = false;
uint32_t g_mask = 0;
uint32_t g_sequence = 0;
Syslog* g_sink = nullptr;
wchar_t g_module[kModuleSize];

// Keeps the last capacity - 1 characters of text: the end of a path names it best.
void copy_tail(wchar_t* destination, size_t capacity, const wchar_t* text) {
    size_t length = std::wcslen(text);
    if (length >= capacity) {
        text += length - (capacity - 1);
        length = capacity - 1;
    }
    std::wmemcpy(destination, text, length);
    destination[length] = L'\0';
}

// Builds a line in a fixed buffer. Text that does not fit is cut, and the line
// keeps its final line feed so that readers still see where it ends.
class LineBuilder {
public:
    LineBuilder& text(const wchar_t* s) {
        while (*s && m_length < kLineSize - 2) m_buffer[m_length++] = *s++;
        return *this;
    }
    LineBuilder& ch(wchar_t c) {
        const wchar_t s[2] = {c, L'\0'};
        return text(s);
    }
    LineBuilder& dec(uint32_t value) {
        wchar_t digits[11];
        size_t n = sizeof digits / sizeof digits[0];
        digits[--n] = L'\0';
        do {
            digits[--n] = static_cast<wchar_t>(L'0' + value % 10);
            value /= 10;
        } while (value);
        return text(digits + n);
    }
    LineBuilder& hex(uint32_t value, int min_digits) {
        static const wchar_t kDigits[] = L"0123456789abcdef";
        wchar_t digits[9];
        size_t n = 8;
        digits[n] = L'\0';
        do {
            digits[--n] = kDigits[value & 15u];
            value >>= 4;
            --min_digits;
        } while (value || min_digits > 0);
        return text(digits + n);
    }
    const wchar_t* finish() {
        m_buffer[m_length++] = L'\n';
        m_buffer[m_length] = L'\0';
        return m_buffer;
    }

private:
    wchar_t m_buffer[kLineSize];
    size_t m_length = 0;
};

void read_module_text() {
    char path[4096];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    g_module[0] = L'\0';
    if (length <= 0) return;
    path[length] = '\0';
    wchar_t wide[4096];
    const size_t converted = std::mbstowcs(wide, path, sizeof wide / sizeof wide[0] - 1);
    if (converted == static_cast<size_t>(-1)) return;
    wide[converted] = L'\0';
    copy_tail(g_module, kModuleSize, wide);
}

// The port field of SYSERRLOG_SYSLOG: its leading digits; anything above 65535,
// however many digits it has, falls back to the standard port.
uint16_t syslog_port(const char* field) {
    uint32_t value = 0;
    for (; *field >= '0' && *field <= '9'; ++field) {
        value = value * 10u + static_cast<uint32_t>(*field - '0');
        if (value > 65535u) return kDefaultSyslogPort;
    }
    return static_cast<uint16_t>(value);
}

void destroy_sink() {
    std::lock_guard<std::recursive_mutex> guard(g_lock);
    delete g_sink;
    g_sink = nullptr;
}

void create_sink() {
    char value[256];
    if (!env_get("SYSERRLOG_SYSLOG", value, sizeof value)) return;
    // Fields are separated by runs of ':'; empty fields do not count.
    const char* fields[2] = {nullptr, nullptr};
    int count = 0;
    for (char* p = value; *p && count < 2;) {
        while (*p == ':') ++p;
        if (!*p) break;
        fields[count++] = p;
        while (*p && *p != ':') ++p;
        if (*p) *p++ = '\0';
    }
    const char* host = fields[0] ? fields[0] : "localhost";
    const uint16_t port = fields[1] ? syslog_port(fields[1]) : kDefaultSyslogPort;
    try {
        g_sink = new Syslog(host, port);
    } catch (...) {
        g_sink = nullptr;
    }
}

void syserr_init() {
    std::lock_guard<std::recursive_mutex> guard(g_lock);
    g_sequence = 0;
    g_initialised = true;
    read_module_text();
    uint32_t mask = 0;
    if (env_exists("SYSERRLOG") && env_get_uint("SYSERRLOG", mask)) g_mask = mask;
    // The mask is in place before the sink is built, so a report made while the
    // receiver is resolved reaches the console and the file.
    if (g_mask & kSyslog) create_sink();
    std::atexit(destroy_sink);
}

void timestamp_text(time_t time, wchar_t* out) {
    out[0] = L'\0';
    std::tm utc{};
    if (!gmtime_r(&time, &utc)) return;
    char narrow[kTimeSize];
    const size_t length = std::strftime(narrow, sizeof narrow, "%Y/%m/%d-%H:%M:%S UTC", &utc);
    for (size_t i = 0; i < length; ++i) out[i] = static_cast<unsigned char>(narrow[i]);
    out[length] = L'\0';
}

void error_text(uint32_t flags, uint32_t error, wchar_t* out) {
    out[0] = L'\0';
    const uint32_t kind = (flags >> 3) & 7u;
    if (kind != kErrorKindPlatform && kind != 4) return;
    char buffer[kErrorTextSize];
    const char* text = strerror_r(static_cast<int>(error), buffer, sizeof buffer);
    wchar_t wide[kErrorTextSize];
    const size_t converted = std::mbstowcs(wide, text, kErrorTextSize - 1);
    if (converted == static_cast<size_t>(-1)) return;
    wide[converted] = L'\0';
    std::wmemcpy(out, wide, converted + 1);
}

void write_console(const Record& r) {
    LineBuilder line;
    line.text(L"PID:").dec(r.pid).text(L" TID:").dec(r.tid).ch(L' ').text(r.file).ch(L'@');
    line.dec(r.line).text(L": ").text(r.message);
    std::string narrow;
    if (!wchar_to_mbchar(line.finish(), narrow)) return;
    // Flushed at once: a diagnostic must not sit in a buffer if the process dies.
    flockfile(stdout);
    fwrite_unlocked(narrow.data(), 1, narrow.size(), stdout);
    fflush_unlocked(stdout);
    funlockfile(stdout);
}

// Keeps the syslog line within one datagram: a longer one would not be sent at
// all. The cut keeps whole UTF-8 characters and the final line feed.
void fit_datagram(std::string& text, size_t limit) {
    if (text.size() <= limit) return;
    size_t end = limit - 1;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0u) == 0x80u) --end;
    text.resize(end);
    text.push_back('\n');
}

void send_syslog(const Record& r, uint32_t sequence, const wchar_t* module, const wchar_t* computer,
                 const wchar_t* error, const wchar_t* timestamp) {
    LineBuilder line;
    line.hex(sequence, 8).ch(L'\t').text(computer).text(L"\tPID:").dec(r.pid);
    line.text(L"\tTID:").dec(r.tid).ch(L'\t').text(module).text(L"::").text(r.file);
    line.ch(L'@').dec(r.line).text(L"\t(0x").hex(r.flags, 1).text(L", ").dec(r.error);
    line.text(L"):\t").text(r.message).ch(L'\t').text(error);
    if (sequence == 0) line.ch(L'\t').text(timestamp);
    std::string narrow;
    if (!wchar_to_mbchar(line.finish(), narrow)) return;
    const unsigned severity = 7u - (r.flags & 7u);
    char prefix[16];
    const int prefix_length =
        std::snprintf(prefix, sizeof prefix, "<%u>", severity + 8u * kSyslogFacility);
    fit_datagram(narrow, Syslog::kMaxDatagram - static_cast<size_t>(prefix_length));
    g_sink->send_text(narrow.c_str(), severity, kSyslogFacility);
}

bool log_file_path(char* path, size_t size) {
    wchar_t dir[kFileSize];
    char narrow_dir[4 * kFileSize];
    if (!get_temp_dir(dir, kFileSize) || !wchar_to_mbchar(dir, narrow_dir, sizeof narrow_dir)) {
        return str_copy_bounded(path, "/tmp/syserrlog.txt", size) < size;
    }
    const int length = std::snprintf(path, size, "%s/syserrlog.txt", narrow_dir);
    return length > 0 && static_cast<size_t>(length) < size;
}

// Appends the bytes as a text stream on Windows writes them: each line feed as CR
// LF, after complementing when asked (so the line's own feeds become 0xF5).
void append_to_file(const std::string& line, bool complement) {
    char path[256];
    if (!log_file_path(path, sizeof path)) return;
    std::string bytes;
    bytes.reserve(line.size() * 2);
    for (const char c : line) {
        const char out = complement ? static_cast<char>(~static_cast<unsigned char>(c)) : c;
        if (out == '\n') bytes.push_back('\r');
        bytes.push_back(out);
    }
    // The folder may be shared (/tmp): a symbolic link planted under our name must
    // not redirect the log into another file, and a FIFO must not block us.
    const int fd =
        open(path, O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
    if (fd < 0) return;
    struct stat st {};
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
        const char* p = bytes.data();
        size_t left = bytes.size();
        while (left > 0) {
            const ssize_t written = write(fd, p, left);
            if (written < 0 && errno == EINTR) continue;
            if (written <= 0) break;
            p += written;
            left -= static_cast<size_t>(written);
        }
    }
    close(fd);
}

void write_file(const Record& r, uint32_t sequence, const wchar_t* module, const wchar_t* error,
                const wchar_t* timestamp, bool complement) {
    LineBuilder line;
    line.hex(sequence, 8).text(L"\tPID:").dec(r.pid).text(L"\tTID:").dec(r.tid).ch(L'\t');
    line.text(module).ch(L'\t').text(r.file).ch(L'\t').dec(r.line).text(L"\t0x");
    line.hex(r.flags, 1).ch(L'\t').dec(r.error).ch(L'\t').text(r.message).ch(L'\t');
    line.text(error).ch(L'\t').text(timestamp);
    try {
        std::string narrow;
        if (!wchar_to_mbchar(line.finish(), narrow)) return;
        append_to_file(narrow, complement);
    } catch (...) {
        append_to_file("Failed expansion in syserrx::tx_wpacket()\n", complement);
    }
}

void tx_wpacket(Record& r, const wchar_t* format, va_list args) {
    std::lock_guard<std::recursive_mutex> guard(g_lock);
    if (!g_initialised) syserr_init();

    r.time = std::time(nullptr);
    r.pid = static_cast<uint32_t>(getpid());
    r.tid = static_cast<uint32_t>(gettid());
    r.message[0] = L'\0';
    if (format) {
        // glibc leaves a cut result unterminated and stops early at a narrow
        // argument the locale cannot read; either way the text so far stands.
        std::vswprintf(r.message, kMessageSize, format, args);
        r.message[kMessageSize - 1] = L'\0';
    }

    const uint32_t mask = g_mask;
    const bool to_syslog = (mask & kSyslog) && g_sink;
    // Looked up before the record takes its number: a failed lookup reports, and
    // that record is written whole, and numbered, before this one.
    const wchar_t* computer = to_syslog ? get_computer_name() : L"";

    // The number is taken now, so a report made while this record is written
    // keeps a number of its own.
    const uint32_t sequence = g_sequence;
    if (g_sequence != 0xFFFFFFFFu) ++g_sequence;

    wchar_t error[kErrorTextSize];
    error_text(r.flags, r.error, error);

    if (mask & kConsole) write_console(r);
    if (!(mask & (kFile | kSyslog))) return;

    wchar_t timestamp[kTimeSize];
    timestamp_text(r.time, timestamp);
    if (to_syslog && g_sink) send_syslog(r, sequence, g_module, computer, error, timestamp);
    if (mask & kFile)
        write_file(r, sequence, g_module, error, timestamp, (mask & kComplement) != 0);
}

void report(const wchar_t* file, unsigned line, unsigned char level, uint32_t kind, uint32_t error,
            const wchar_t* format, va_list args) {
    try {
        Record r;
        copy_tail(r.file, kFileSize, file ? file : L"");
        r.line = line;
        r.flags = (level & 7u) | (kind << 3);
        r.error = error;
        tx_wpacket(r, format, args);
    } catch (...) {
        // The log is the last resort: nothing may escape to the reporter.
    }
}

}  // namespace

void syserr_report(const wchar_t* file, unsigned line, unsigned char level, const wchar_t* format,
                   ...) {
    va_list args;
    va_start(args, format);
    report(file, line, level, 0, 0, format, args);
    va_end(args);
}

void syserr_report_error(const wchar_t* file, unsigned line, unsigned char level, uint32_t error,
                         const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    report(file, line, level, kErrorKindPlatform, error, format, args);
    va_end(args);
}

void LogValue(const wchar_t* file, unsigned line, unsigned char level, int32_t value,
              const wchar_t* message) {
    // The composed text goes in as an argument, never as the format: a '%' in the
    // message must print as itself, not read arguments that were never passed.
    wchar_t text[kMessageSize];
    if (std::swprintf(text, kMessageSize, L"%ls Value=%d", message ? message : L"", value) < 0) {
        text[kMessageSize - 1] = L'\0';
    }
    syserr_report(file, line, level, L"%ls", text);
}
