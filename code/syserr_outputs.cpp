#include "code/syserr_outputs.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <pthread.h>
#include <signal.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "code/char2wchar.h"
#include "code/environ.h"
#include "code/file_io.h"
#include "code/syslog_sink.h"
#include "code/text_helpers.h"

namespace syserr {

namespace {

constexpr uint16_t kDefaultSyslogPort = 514;
constexpr unsigned kSyslogFacility = 1;

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

}  // namespace

namespace {
// Constant-initialised by the library, so it exists before any static initialiser
// elsewhere can report; it has nothing to destroy.
std::recursive_mutex g_lock;
}  // namespace

std::recursive_mutex& log_lock() { return g_lock; }

void ConsoleOutput::emit(const Record& record) {
    LineBuilder line;
    const NarrowLine narrow(console_line(record, line));
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

void FileOutput::open(bool complement) {
    m_complement = complement;
    m_owner = geteuid();
    m_path[0] = '\0';
    wchar_t dir[kFileSize];
    char narrow_dir[4 * kFileSize];
    if (!get_temp_dir(dir, kFileSize)) {
        str_copy_bounded(m_path, "/tmp/syserrlog.txt", sizeof m_path);
        return;
    }
    if (!wchar_to_mbchar(dir, narrow_dir, sizeof narrow_dir)) return;
    const int length = std::snprintf(m_path, sizeof m_path, "%s/syserrlog.txt", narrow_dir);
    if (length <= 0 || static_cast<size_t>(length) >= sizeof m_path) m_path[0] = '\0';
}

void FileOutput::emit(const Record& record) {
    LineBuilder line;
    const wchar_t* text = file_line(record, line);
    try {
        const NarrowLine narrow(text);
        append(narrow.data(), narrow.size());
    } catch (...) {
        static const char kFailed[] = "Failed expansion in syserrx::tx_wpacket()\n";
        append(kFailed, sizeof kFailed - 1);
    }
}

// Appends the bytes as a text stream on Windows writes them: each line feed as CR
// LF, after complementing when asked (so the line's own feeds become 0xF5).
void FileOutput::append(const char* line, size_t size) const {
    if (!m_path[0]) return;
    // The folder may be shared (/tmp): a symbolic link planted under our name must
    // not redirect the log into another file, and a FIFO must not block us.
    const int fd = ::open(
        m_path, O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC,
        0600);
    if (fd < 0) return;
    // Nor may a file another user made there first, which they could read, or a
    // second name (a hard link) of some other file. statx asks for just these fields,
    // for about half of what a full fstat costs on ext4; the user is asked again only
    // when the owner is not the one the log was set up for.
    constexpr unsigned kNeeded = STATX_TYPE | STATX_UID | STATX_NLINK;
    struct statx info;
    if (statx(fd, "", AT_EMPTY_PATH, kNeeded, &info) != 0 || (info.stx_mask & kNeeded) != kNeeded ||
        !S_ISREG(info.stx_mode) || (info.stx_uid != m_owner && info.stx_uid != geteuid()) ||
        info.stx_nlink != 1) {
        ::close(fd);
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
        if (!m_complement) {
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
    ::close(fd);
}

void SyslogOutput::open() {
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
        m_sink = new Syslog(host, port);
    } catch (...) {
        m_sink = nullptr;
    }
}

void SyslogOutput::close() {
    // A thread stuck inside a record (say, writing to a console nobody drains) must
    // not hold up the exit: the sink is then left to the system.
    std::unique_lock<std::recursive_mutex> guard(log_lock(), std::try_to_lock);
    if (!guard.owns_lock()) return;
    delete m_sink;
    m_sink = nullptr;
}

void SyslogOutput::emit(const Record& record) {
    if (!m_sink) return;
    LineBuilder line;
    NarrowLine narrow(syslog_line(record, line));
    const unsigned severity = 7u - (record.flags & 7u);
    char prefix[16];
    const int prefix_length =
        std::snprintf(prefix, sizeof prefix, "<%u>", severity + 8u * kSyslogFacility);
    // A longer datagram would not be sent at all.
    narrow.fit(Syslog::kMaxDatagram - static_cast<size_t>(prefix_length));
    m_sink->send_text(narrow.data(), severity, kSyslogFacility);
}

}  // namespace syserr
