// The diagnostic log: one record per report, numbered, written to the outputs that
// SYSERRLOG selects. Byte layouts of the three lines are fixed: peers parse them.
#include "code/syserrx.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <cerrno>
#include <climits>
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
#include "code/file_io.h"
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

// Process and thread ids cost a system call each here, so they are kept, and
// forgotten in the child after a fork.
std::atomic<uint32_t> g_fork_generation{0};
uint32_t g_pid = 0;
uint32_t g_pid_generation = 0;

void forget_ids_after_fork() { g_fork_generation.fetch_add(1, std::memory_order_relaxed); }

uint32_t process_id() {
    const uint32_t generation = g_fork_generation.load(std::memory_order_relaxed);
    if (g_pid == 0 || g_pid_generation != generation) {
        g_pid = static_cast<uint32_t>(getpid());
        g_pid_generation = generation;
    }
    return g_pid;
}

uint32_t thread_id() {
    thread_local uint32_t tid = 0;
    thread_local uint32_t tid_generation = 0;
    const uint32_t generation = g_fork_generation.load(std::memory_order_relaxed);
    if (tid == 0 || tid_generation != generation) {
        tid = static_cast<uint32_t>(gettid());
        tid_generation = generation;
    }
    return tid;
}

// A line in the process locale's narrow text. A character the locale cannot
// represent becomes '?': a record is never dropped for its text. Lines fit the
// stack buffer unless they hold characters of more than four bytes; those go
// through the heap.
class NarrowLine {
public:
    void convert(const wchar_t* line) {
        // ASCII has the same bytes in every locale glibc offers: copy it without
        // the conversion machinery, which costs as much as a system call here.
        size_t used = 0;
        for (; used < sizeof m_stack - 1 && line[used] && static_cast<uint32_t>(line[used]) < 0x80u;
             ++used) {
            m_stack[used] = static_cast<char>(line[used]);
        }
        m_data = m_stack;
        std::mbstate_t state{};
        char bytes[MB_LEN_MAX];
        for (const wchar_t* p = line + used; *p; ++p) {
            size_t n = std::wcrtomb(bytes, *p, &state);
            if (n == static_cast<size_t>(-1)) {
                state = std::mbstate_t{};
                bytes[0] = '?';
                n = 1;
            }
            if (m_data == m_stack && used + n >= sizeof m_stack) {
                m_heap.assign(m_stack, used);
                m_data = nullptr;
            }
            if (m_data == m_stack) {
                std::memcpy(m_stack + used, bytes, n);
            } else {
                m_heap.append(bytes, n);
            }
            used += n;
        }
        if (!m_data) {
            m_heap.push_back('\0');
            m_data = m_heap.data();
        }
        m_data[used] = '\0';
        m_size = used;
    }
    char* data() { return m_data; }
    size_t size() const { return m_size; }
    // Keeps the first `size` bytes, the last of which becomes a line feed.
    void cut(size_t size) {
        m_size = size;
        m_data[size - 1] = '\n';
    }

private:
    char m_stack[4 * kLineSize];
    std::string m_heap;
    char* m_data = m_stack;
    size_t m_size = 0;
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

// The log file's path, found once when the log starts, like the mask: reading the
// environment on every record would race with a thread calling setenv. Plain
// characters, so reports made while the process exits never meet a destroyed object.
char g_log_path[256];

void find_log_file_path() {
    g_log_path[0] = '\0';
    wchar_t dir[kFileSize];
    char narrow_dir[4 * kFileSize];
    if (!get_temp_dir(dir, kFileSize)) {
        str_copy_bounded(g_log_path, "/tmp/syserrlog.txt", sizeof g_log_path);
        return;
    }
    if (!wchar_to_mbchar(dir, narrow_dir, sizeof narrow_dir)) return;
    const int length = std::snprintf(g_log_path, sizeof g_log_path, "%s/syserrlog.txt", narrow_dir);
    if (length <= 0 || static_cast<size_t>(length) >= sizeof g_log_path) g_log_path[0] = '\0';
}

void destroy_sink() {
    // A thread stuck inside a record (say, writing to a console nobody drains) must
    // not hold up the exit: the sink is then left to the system.
    std::unique_lock<std::recursive_mutex> guard(g_lock, std::try_to_lock);
    if (!guard.owns_lock()) return;
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
    if (g_mask & kFile) find_log_file_path();
    // The mask is in place before the sink is built, so a report made while the
    // receiver is resolved reaches the console and the file.
    if (g_mask & kSyslog) create_sink();
    std::atexit(destroy_sink);
    pthread_atfork(nullptr, nullptr, forget_ids_after_fork);
}

// "%Y/%m/%d-%H:%M:%S UTC", made once per second: records come in bursts.
void timestamp_text(time_t time, wchar_t* out) {
    static time_t cached_time = 0;
    static wchar_t cached[kTimeSize] = {};
    if (time != cached_time || cached[0] == L'\0') {
        cached[0] = L'\0';
        std::tm utc{};
        char narrow[kTimeSize];
        if (!gmtime_r(&time, &utc)) {
            out[0] = L'\0';
            return;
        }
        const size_t length = std::strftime(narrow, sizeof narrow, "%Y/%m/%d-%H:%M:%S UTC", &utc);
        for (size_t i = 0; i < length; ++i) cached[i] = static_cast<unsigned char>(narrow[i]);
        cached[length] = L'\0';
        cached_time = time;
    }
    std::wmemcpy(out, cached, kTimeSize);
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
    NarrowLine narrow;
    narrow.convert(line.finish());
    // A reader that went away must not end the process with SIGPIPE: the signal is
    // held for this write and one raised by it is taken back.
    sigset_t pipe_signal, previous;
    sigemptyset(&pipe_signal);
    sigaddset(&pipe_signal, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe_signal, &previous);
    // Flushed at once: a diagnostic must not sit in a buffer if the process dies.
    flockfile(stdout);
    fwrite_unlocked(narrow.data(), 1, narrow.size(), stdout);
    const bool broken = fflush_unlocked(stdout) != 0 && errno == EPIPE;
    if (broken) clearerr_unlocked(stdout);
    funlockfile(stdout);
    if (!sigismember(&previous, SIGPIPE)) {
        if (broken) {
            const timespec no_wait{};
            sigtimedwait(&pipe_signal, nullptr, &no_wait);
        }
        pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    }
}

// Keeps the syslog line within one datagram: a longer one would not be sent at
// all. The cut keeps whole UTF-8 characters and the final line feed.
void fit_datagram(NarrowLine& text, size_t limit) {
    if (text.size() <= limit) return;
    size_t end = limit - 1;
    while (end > 0 && (static_cast<unsigned char>(text.data()[end]) & 0xC0u) == 0x80u) --end;
    text.cut(end + 1);
}

void send_syslog(const Record& r, uint32_t sequence, const wchar_t* module, const wchar_t* computer,
                 const wchar_t* error, const wchar_t* timestamp) {
    LineBuilder line;
    line.hex(sequence, 8).ch(L'\t').text(computer).text(L"\tPID:").dec(r.pid);
    line.text(L"\tTID:").dec(r.tid).ch(L'\t').text(module).text(L"::").text(r.file);
    line.ch(L'@').dec(r.line).text(L"\t(0x").hex(r.flags, 1).text(L", ").dec(r.error);
    line.text(L"):\t").text(r.message).ch(L'\t').text(error);
    if (sequence == 0) line.ch(L'\t').text(timestamp);
    NarrowLine narrow;
    narrow.convert(line.finish());
    const unsigned severity = 7u - (r.flags & 7u);
    char prefix[16];
    const int prefix_length =
        std::snprintf(prefix, sizeof prefix, "<%u>", severity + 8u * kSyslogFacility);
    fit_datagram(narrow, Syslog::kMaxDatagram - static_cast<size_t>(prefix_length));
    narrow.data()[narrow.size()] = '\0';
    g_sink->send_text(narrow.data(), severity, kSyslogFacility);
}

// Appends the bytes as a text stream on Windows writes them: each line feed as CR
// LF, after complementing when asked (so the line's own feeds become 0xF5).
void append_to_file(const char* line, size_t size, bool complement) {
    if (!g_log_path[0]) return;
    // The folder may be shared (/tmp): a symbolic link planted under our name must
    // not redirect the log into another file, and a FIFO must not block us.
    const int fd =
        open(g_log_path,
             O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0600);
    if (fd < 0) return;
    // Nor may a file another user made there first, which they could read, or a
    // second name (a hard link) of some other file.
    struct stat info;
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_uid != geteuid() ||
        info.st_nlink != 1) {
        close(fd);
        return;
    }
    // One write per line keeps lines of other processes appending to the same file
    // apart; only a line of unusually wide characters needs more than one.
    char bytes[8 * kLineSize];
    size_t used = 0;
    for (size_t i = 0; i < size;) {
        if (used + 2 >= sizeof bytes) {
            write_all(fd, std::string_view(bytes, used));
            used = 0;
        }
        if (!complement) {
            // Runs without a line feed are copied whole.
            const void* feed = std::memchr(line + i, '\n', size - i);
            size_t run = (feed ? static_cast<const char*>(feed) : line + size) - (line + i);
            if (run > sizeof bytes - 2 - used) run = sizeof bytes - 2 - used;
            std::memcpy(bytes + used, line + i, run);
            used += run;
            i += run;
            if (i < size && line[i] == '\n') {
                bytes[used++] = '\r';
                bytes[used++] = '\n';
                ++i;
            }
            continue;
        }
        const char c = static_cast<char>(~static_cast<unsigned char>(line[i++]));
        if (c == '\n') bytes[used++] = '\r';
        bytes[used++] = c;
    }
    // A failed append is dropped: the log never reports about itself.
    write_all(fd, std::string_view(bytes, used));
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
        NarrowLine narrow;
        narrow.convert(line.finish());
        append_to_file(narrow.data(), narrow.size(), complement);
    } catch (...) {
        static const char kFailed[] = "Failed expansion in syserrx::tx_wpacket()\n";
        append_to_file(kFailed, sizeof kFailed - 1, complement);
    }
}

void tx_wpacket(Record& r, const wchar_t* format, va_list args) {
    std::lock_guard<std::recursive_mutex> guard(g_lock);
    if (!g_initialised) syserr_init();

    r.time = std::time(nullptr);
    r.pid = process_id();
    r.tid = thread_id();
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
