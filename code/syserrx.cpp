// The log's entry: it reads the configuration once, numbers each record and hands
// it to the outputs that SYSERRLOG selects.
#include "code/syserrx.h"

#include <unistd.h>

#include <pthread.h>

#include <atomic>
#include <cstdarg>
#include <cstdlib>
#include <cwchar>
#include <string>

#include "code/char2wchar.h"
#include "code/computername.h"
#include "code/environ.h"
#include "code/syserr_outputs.h"

namespace {

using namespace syserr;

constexpr uint32_t kConsole = 1;
constexpr uint32_t kFile = 2;
constexpr uint32_t kComplement = 4;
constexpr uint32_t kSyslog = 8;

// All guarded by log_lock(). Made before any code runs and never destroyed, so a
// report can come from any static object's constructor or destructor.
constinit bool g_initialised = false;
constinit uint32_t g_mask = 0;
constinit uint32_t g_sequence = 0;
constinit wchar_t g_module[kModuleSize] = {};
constinit ConsoleOutput g_console;
constinit FileOutput g_file;
constinit SyslogOutput g_syslog;

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

void read_module_text() {
    char path[4096];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    g_module[0] = L'\0';
    if (length <= 0) return;
    path[length] = '\0';
    std::wstring wide;
    if (mbchar_to_wchar(path, wide)) copy_tail(g_module, kModuleSize, wide.c_str());
}

void close_syslog() { g_syslog.close(); }

void initialise() {
    g_sequence = 0;
    g_initialised = true;
    read_module_text();
    uint32_t mask = 0;
    if (env_exists("SYSERRLOG") && env_get_uint("SYSERRLOG", mask)) g_mask = mask;
    if (g_mask & kFile) g_file.open((g_mask & kComplement) != 0);
    // The mask is in place before the receiver is resolved, so a report made
    // meanwhile reaches the console and the file.
    if (g_mask & kSyslog) g_syslog.open();
    std::atexit(close_syslog);
    pthread_atfork(nullptr, nullptr, forget_ids_after_fork);
}

void write_record(Record& r, const wchar_t* format, va_list args) {
    std::lock_guard<std::recursive_mutex> guard(log_lock());
    if (!g_initialised) initialise();

    r.time = std::time(nullptr);
    r.pid = process_id();
    r.tid = thread_id();
    format_message(r.message, format, args);

    const uint32_t mask = g_mask;
    const bool to_syslog = (mask & kSyslog) && g_syslog.is_open();
    // Looked up before the record takes its number: a failed lookup reports, and
    // that record is written whole, and numbered, before this one.
    r.computer = to_syslog ? get_computer_name() : L"";

    // The number is taken now, so a report made while this record is written
    // keeps a number of its own.
    r.sequence = g_sequence;
    if (g_sequence != 0xFFFFFFFFu) ++g_sequence;
    r.module = g_module;
    error_text(r.flags, r.error, r.error_text);

    if (mask & kConsole) g_console.write(r);
    if (!(mask & (kFile | kSyslog))) return;
    timestamp_text(r.time, r.timestamp);
    if (to_syslog) g_syslog.write(r);
    if (mask & kFile) g_file.write(r);
}

void report(const wchar_t* file, unsigned line, unsigned char level, uint32_t kind, uint32_t error,
            const wchar_t* format, va_list args) {
    try {
        Record r;
        copy_tail(r.file, kFileSize, file ? file : L"");
        r.line = line;
        r.flags = (level & 7u) | (kind << 3);
        r.error = error;
        write_record(r, format, args);
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
