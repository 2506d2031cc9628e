#include "code/computername.h"

#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cwchar>
#include <mutex>
#include <string>

#include "code/char2wchar.h"
#include "code/syserrx.h"

namespace {

// A Linux host name may be up to HOST_NAME_MAX bytes; a 15-character cache would
// turn every longer name into a failure, so the whole name is kept.
constexpr size_t kNameCapacity = HOST_NAME_MAX + 1;

std::mutex g_name_lock;
wchar_t g_name[kNameCapacity];
std::atomic<bool> g_fetched{false};

// Set while this thread reports a failed lookup: the report's own syslog line asks
// for the name again, and must get the fallback instead of another lookup.
thread_local bool t_reporting = false;

bool fetch_name() {
    char narrow[kNameCapacity];
    if (gethostname(narrow, sizeof narrow) != 0) return false;
    narrow[kNameCapacity - 1] = '\0';
    std::wstring wide;
    if (!mbchar_to_wchar(narrow, wide)) {
        // Not representable in the locale: keep the bytes as they are.
        wide.clear();
        for (const char* p = narrow; *p; ++p) wide.push_back(static_cast<unsigned char>(*p));
    }
    std::wmemcpy(g_name, wide.c_str(), wide.size() + 1);
    return true;
}

}  // namespace

const wchar_t* get_computer_name() {
    static const wchar_t kUnknown[] = L"Unknown computer";
    if (g_fetched.load(std::memory_order_acquire)) return g_name;
    if (t_reporting) return kUnknown;

    int error = 0;
    {
        // Only the platform call runs under this lock; the report below takes the
        // log lock, which must never be waited for while this one is held.
        std::lock_guard<std::mutex> guard(g_name_lock);
        if (g_fetched.load(std::memory_order_relaxed)) return g_name;
        if (fetch_name()) {
            g_fetched.store(true, std::memory_order_release);
            return g_name;
        }
        error = errno;
    }
    t_reporting = true;
    syserr_report_error(SYSERR_FILE, __LINE__, 4, static_cast<uint32_t>(error),
                        L"Check failed [%ls].", L"GetComputerNameW(name, &name_size)");
    t_reporting = false;
    return kUnknown;
}
