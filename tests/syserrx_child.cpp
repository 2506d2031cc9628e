// A process of its own for the diagnostic log's tests, as the log reads its configuration
// once per process. The arguments are steps, run in order; NAME=VALUE sets a variable.
// Exit status 0, 2 for bad arguments, 77 when a namespace cannot be had.
#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "code/char2wchar.h"
#include "code/syserrx.h"
#include "tests/support/udp_receiver.h"

namespace {

// Built before, and so destroyed after, every static object of the log.
struct ReportAtExit {
    const char* text = nullptr;
    ~ReportAtExit() {
        if (text) syserr_report(L"/src/module.cpp", 42, 4, L"%s", text);
    }
} g_report_at_exit __attribute__((init_priority(101)));

}  // namespace

// Reports come from /src/module.cpp at fixed lines: report 42, wide 43 (from the file
// given), error 44 (ENOENT), value 45 (-3), and 8 threads report 150 times each.
int main(int argc, char** argv) {
    std::setlocale(LC_ALL, "C.UTF-8");
    unsetenv("SYSERRLOG");
    unsetenv("SYSERRLOG_SYSLOG");
    std::optional<UdpReceiver> receiver;
    for (int i = 1; i < argc; ++i) {
        const std::string step = argv[i];
        auto next = [&] { return i + 1 < argc ? argv[++i] : (std::exit(2), nullptr); };
        if (step.find('=') != std::string::npos) {
            putenv(argv[i]);
        } else if (step == "report") {
            syserr_report(L"/src/module.cpp", 42, 4, L"%s", next());
        } else if (step == "wide") {
            const std::wstring where = utf8_to_wide_lenient(next());
            syserr_report(where.c_str(), 43, 4, L"%ls", utf8_to_wide_lenient(next()).c_str());
        } else if (step == "error") {
            syserr_report_error(L"/src/module.cpp", 44, 4, ENOENT, L"Check failed [%s].", next());
        } else if (step == "value") {
            LogValue(L"/src/module.cpp", 45, 4, -3, utf8_to_wide_lenient(next()).c_str());
        } else if (step == "threads") {
            std::vector<std::jthread> workers;
            for (int t = 0; t < 8; ++t)
                workers.emplace_back([t] {
                    for (int k = 0; k < 150; ++k)
                        syserr_report(L"/src/module.cpp", 42, 4, L"thread %d record %d", t, k);
                });
        } else if (step == "locale") {
            if (!std::setlocale(LC_ALL, next())) return 2;
        } else if (step == "hang-up") {  // standard output: a pipe nobody reads
            int fd[2];
            if (pipe(fd) != 0 || close(fd[0]) != 0 || dup2(fd[1], STDOUT_FILENO) < 0) return 2;
        } else if (step == "exit-reporting") {
            // During exit a static object's destructor reports and a thread is in a record.
            g_report_at_exit.text = next();
            static std::atomic<int> late{0};
            std::thread([] {
                for (;; ++late) syserr_report(L"/src/module.cpp", 42, 4, L"%s", "late");
            }).detach();
            while (late < 100) std::this_thread::yield();
        } else if (step == "host") {  // UTS and network namespaces of its own, loopback up
            const char* name = next();
            ifreq lo{.ifr_ifrn = {"lo"}, .ifr_ifru = {.ifru_flags = IFF_UP}};
            if (unshare(CLONE_NEWUTS | CLONE_NEWNET) != 0 ||
                sethostname(name, std::strlen(name)) != 0 ||
                ioctl(socket(AF_INET, SOCK_DGRAM, 0), SIOCSIFFLAGS, &lo) != 0)
                return 77;
            receiver.emplace(514);
        } else {
            return 2;
        }
    }
    // What the receiver got; loopback delivery is done when sendto returns.
    for (const std::string& datagram : receiver ? receiver->receive() : std::vector<std::string>{})
        std::fputs(datagram.c_str(), stdout);
    return 0;
}
