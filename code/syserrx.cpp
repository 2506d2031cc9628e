// Interim log: formats records and appends the file line when SYSERRLOG has bit 2,
// so other modules' tests can read their reports. The full log replaces this.
#include "code/syserrx.h"

#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <cwchar>
#include <mutex>
#include <sstream>
#include <string>

namespace {

std::recursive_mutex g_lock;
bool g_initialised = false;
unsigned g_mask = 0;
uint32_t g_sequence = 0;

void init_locked() {
    g_initialised = true;
    g_sequence = 0;
    if (const char* v = std::getenv("SYSERRLOG")) g_mask = static_cast<unsigned>(std::atoi(v));
}

void dispatch(const wchar_t* file, unsigned line, unsigned char level, unsigned kind,
              uint32_t error, const wchar_t* format, va_list args) {
    std::lock_guard<std::recursive_mutex> guard(g_lock);
    if (!g_initialised) init_locked();
    wchar_t message[256];
    if (vswprintf(message, 256, format, args) < 0) message[255] = 0;
    if (g_mask & 2) {
        const char* dir = std::getenv("DIR_TMP");
        std::string path = std::string(dir ? dir : "/tmp") + "/syserrlog.txt";
        if (FILE* f = std::fopen(path.c_str(), "ab")) {
            std::fprintf(
                f, "%08x\tPID:%u\tTID:%u\t%s\t%ls\t%u\t0x%x\t%lu\t%ls\t%s\t%s\r\n", g_sequence,
                static_cast<unsigned>(getpid()), static_cast<unsigned>(gettid()), "", file, line,
                (level & 7u) | (kind << 3), static_cast<unsigned long>(error), message, "", "");
            std::fclose(f);
        }
    }
    if (g_sequence != 0xFFFFFFFFu) ++g_sequence;
}

}  // namespace

void syserr_report(const wchar_t* file, unsigned line, unsigned char level, const wchar_t* format,
                   ...) {
    va_list args;
    va_start(args, format);
    dispatch(file, line, level, 0, 0, format, args);
    va_end(args);
}

void syserr_report_error(const wchar_t* file, unsigned line, unsigned char level, uint32_t error,
                         const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    dispatch(file, line, level, 1, error, format, args);
    va_end(args);
}

void LogValue(const wchar_t* file, unsigned line, unsigned char level, int32_t value,
              const wchar_t* message) {
    std::wostringstream text;
    text << message << L" Value=" << value;
    syserr_report(file, line, level, text.str().c_str());
}
