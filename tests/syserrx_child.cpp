// A process of its own for the diagnostic log's tests: the log reads its
// configuration once per process. The arguments are steps, run in order (see main):
// reports from fixed lines (report 42, wide 43, error 44, value 45), threads, a
// locale, a thread moving the environment, reports during exit, and namespaces
// with a host name and a syslog receiver on 127.0.0.1:514 (drain prints what came).
// Exit status 0, 2 for bad arguments, 77 when a namespace cannot be had.
#include <arpa/inet.h>
#include <net/if.h>
#include <poll.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <atomic>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "code/char2wchar.h"
#include "code/syserrx.h"

namespace {

std::wstring widen(const char* text) {
    std::wstring wide;
    if (!utf8_to_wide(text, wide)) std::exit(2);
    return wide;
}

// Built before, and so destroyed after, every static object of the log.
struct ReportAtExit {
    const char* text = nullptr;
    ~ReportAtExit() {
        if (text) syserr_report(L"/src/module.cpp", 42, 4, L"%s", text);
    }
} g_report_at_exit __attribute__((init_priority(101)));

// -1 when no namespace with a working loopback can be had.
int listen_on_514_in_own_netns() {
    if (unshare(CLONE_NEWNET) != 0) return -1;
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    ifreq request{};
    std::strcpy(request.ifr_name, "lo");
    if (fd < 0 || ioctl(fd, SIOCGIFFLAGS, &request) != 0) return -1;
    request.ifr_flags = static_cast<short>(request.ifr_flags | IFF_UP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(514);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (ioctl(fd, SIOCSIFFLAGS, &request) != 0 ||
        bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        return -1;
    }
    return fd;
}

}  // namespace

int main(int argc, char** argv) {
    std::setlocale(LC_ALL, "C.UTF-8");
    std::wstring file = L"/src/module.cpp";
    int receiver = -1;
    std::thread churn;
    for (int i = 1; i < argc; ++i) {
        const std::string step = argv[i];
        auto next = [&]() -> const char* {
            if (i + 1 >= argc) std::exit(2);
            return argv[++i];
        };
        if (step == "file") {
            file = widen(next());
        } else if (step == "report") {
            syserr_report(file.c_str(), 42, 4, L"%s", next());
        } else if (step == "wide") {
            syserr_report(file.c_str(), 43, 4, L"%ls", widen(next()).c_str());
        } else if (step == "error") {
            const auto code = static_cast<uint32_t>(std::strtoul(next(), nullptr, 10));
            syserr_report_error(file.c_str(), 44, 4, code, L"Check failed [%ls].",
                                widen(next()).c_str());
        } else if (step == "value") {
            const auto value = static_cast<int32_t>(std::strtol(next(), nullptr, 10));
            LogValue(file.c_str(), 45, 4, value, widen(next()).c_str());
        } else if (step == "threads") {
            const int threads = std::atoi(next()), count = std::atoi(next());
            std::vector<std::thread> workers;
            for (int t = 0; t < threads; ++t) {
                workers.emplace_back([t, count, &file] {
                    for (int k = 0; k < count; ++k) {
                        syserr_report(file.c_str(), 42, 4, L"thread %d record %d", t, k);
                    }
                });
            }
            for (std::thread& worker : workers) worker.join();
        } else if (step == "locale") {
            if (!std::setlocale(LC_ALL, next())) return 2;
        } else if (step == "setenv-thread") {
            const std::string dir = next();
            std::atomic<bool> moved{false};
            churn = std::thread([dir, &moved] {
                setenv("DIR_TMP", dir.c_str(), 1);
                moved = true;
                for (int k = 0; k < 2000; ++k)
                    setenv(("TALVEX_CHURN_" + std::to_string(k)).c_str(), "x", 1);
            });
            while (!moved) std::this_thread::yield();
        } else if (step == "at-exit") {
            g_report_at_exit.text = next();
        } else if (step == "exit-while-reporting") {
            std::thread([] {
                for (;;) syserr_report(L"/src/module.cpp", 42, 4, L"%s", "late");
            }).detach();
        } else if (step == "uts-hostname") {
            const char* name = next();
            if (unshare(CLONE_NEWUTS) != 0 || sethostname(name, std::strlen(name)) != 0) return 77;
        } else if (step == "netns") {
            if ((receiver = listen_on_514_in_own_netns()) < 0) return 77;
        } else if (step == "drain" && receiver >= 0) {
            // Loopback delivery is done when sendto returns; the wait only covers a slow machine.
            pollfd p{receiver, POLLIN, 0};
            char buffer[65536];
            for (ssize_t n;
                 poll(&p, 1, 200) > 0 && (n = recv(receiver, buffer, sizeof buffer, 0)) > 0;) {
                fwrite(buffer, 1, static_cast<size_t>(n), stdout);
            }
        } else {
            return 2;
        }
    }
    if (churn.joinable()) churn.join();
    return 0;
}
