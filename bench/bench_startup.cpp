// Process start to the sheet's first paint, under a private Xvfb: the tool beside a
// bare Qt program showing a tabbed dialog with the same widgets, alternated in one
// run so that both see the same machine. Prints the medians and their ratio.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

pid_t spawn(const std::vector<std::string>& args, int fd3) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (fd3 >= 0) posix_spawn_file_actions_adddup2(&actions, fd3, 3);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

// Milliseconds from spawning the probe to its first-paint byte; negative on failure.
double time_to_first_paint(const std::string& probe, const char* mode) {
    int pipe_fds[2];
    if (pipe2(pipe_fds, O_CLOEXEC) != 0) return -1;
    const Clock::time_point start = Clock::now();
    const pid_t pid = spawn({probe, mode}, pipe_fds[1]);
    close(pipe_fds[1]);
    double ms = -1;
    pollfd p{pipe_fds[0], POLLIN, 0};
    char byte = 0;
    if (pid > 0 && poll(&p, 1, 20000) == 1 && read(pipe_fds[0], &byte, 1) == 1)
        ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    close(pipe_fds[0]);
    if (pid > 0) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
    return ms;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

}  // namespace

int main(int, char** argv) {
    const std::string probe =
        (std::filesystem::path(argv[0]).parent_path() / "startup_probe").string();
    const auto data = std::filesystem::temp_directory_path() /
                      ("talvex-bench-startup-" + std::to_string(getpid()));
    std::filesystem::create_directories(data);
    setenv("PROGRAMDATA", data.c_str(), 1);
    setenv("QT_QPA_PLATFORM", "xcb", 1);
    unsetenv("SYSERRLOG");

    // A display of our own: Xvfb writes the number it took to the pipe.
    int display_fds[2];
    if (pipe(display_fds) != 0) return 1;
    const pid_t xvfb = spawn(
        {"/usr/bin/Xvfb", "-displayfd", "3", "-screen", "0", "1024x768x24", "-nolisten", "tcp"},
        display_fds[1]);
    close(display_fds[1]);
    char number[16] = {};
    pollfd p{display_fds[0], POLLIN, 0};
    if (xvfb < 0 || poll(&p, 1, 10000) != 1 || read(display_fds[0], number, 15) <= 0) {
        std::fprintf(stderr, "bench_startup: Xvfb did not start\n");
        return 1;
    }
    close(display_fds[0]);
    setenv("DISPLAY", (":" + std::string(number, std::strcspn(number, "\n"))).c_str(), 1);

    constexpr int ROUNDS = 15;
    std::vector<double> ours, peer;
    time_to_first_paint(probe, "tool");  // warm the page cache for both
    time_to_first_paint(probe, "peer");
    for (int i = 0; i < ROUNDS; ++i) {
        ours.push_back(time_to_first_paint(probe, "tool"));
        peer.push_back(time_to_first_paint(probe, "peer"));
    }
    kill(xvfb, SIGTERM);
    waitpid(xvfb, nullptr, 0);
    std::filesystem::remove_all(data);
    if (std::count(ours.begin(), ours.end(), -1.0) || std::count(peer.begin(), peer.end(), -1.0)) {
        std::fprintf(stderr, "bench_startup: a probe never painted\n");
        return 1;
    }
    const double a = median(ours), b = median(peer);
    std::printf("process start to first paint, median of %d (ms)\n", ROUNDS);
    std::printf("  talvex-config sheet   %8.1f\n", a);
    std::printf("  bare Qt tabbed dialog %8.1f\n", b);
    std::printf("  ratio                 %8.2fx (aim: within 1.30x)\n", a / b);
    return 0;
}
