// The cost of one diagnostic record, beside a bare loop making the same system
// calls with the same bytes. The log reads its configuration once per process,
// so each output is measured in a child process of its own, forked before any
// report is made.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <clocale>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <mutex>
#include <string>
#include <thread>

#include "code/syserrx.h"

namespace {

// Keeps each benchmark's time per iteration so the pair can be compared.
class PairReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.error_occurred) continue;
            // The median of the repetitions when there are several.
            const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
            if (median ||
                (run.run_type == Run::RT_Iteration && !m_ns.count(run.run_name.function_name))) {
                m_ns[run.run_name.function_name] = {run.GetAdjustedRealTime(),
                                                    run.GetAdjustedCPUTime()};
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }
    struct Times {
        double real = 0, cpu = 0;
    };
    Times ns(const std::string& name) const {
        const auto it = m_ns.find(name);
        return it == m_ns.end() ? Times{} : it->second;
    }

private:
    std::map<std::string, Times> m_ns;
};

void report_one() {
    syserr_report(L"/home/build/talvex/code/configparser.cpp", 321, 4, L"Check failed [%ls].",
                  L"file.is_open()");
}

// A syslog receiver on 127.0.0.1 that keeps reading, so sends never meet a full queue.
class Receiver {
public:
    Receiver() {
        m_socket = socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        bind(m_socket, reinterpret_cast<sockaddr*>(&address), length);
        getsockname(m_socket, reinterpret_cast<sockaddr*>(&address), &length);
        m_address = address;
        m_thread = std::thread([this] { drain(); });
    }
    ~Receiver() {
        m_stop = true;
        m_thread.join();
        close(m_socket);
    }
    const sockaddr_in& address() const { return m_address; }
    std::string last() {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_last;
    }

private:
    void drain() {
        pollfd p{m_socket, POLLIN, 0};
        char buffer[2048];
        while (!m_stop) {
            if (poll(&p, 1, 50) <= 0) continue;
            const ssize_t n = recv(m_socket, buffer, sizeof buffer, 0);
            // The second datagram: the first carries a timestamp the others do not.
            if (n > 0 && ++m_count == 2) {
                std::lock_guard<std::mutex> guard(m_lock);
                m_last.assign(buffer, static_cast<size_t>(n));
            }
        }
    }
    int m_socket = -1;
    sockaddr_in m_address{};
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
    std::mutex m_lock;
    std::string m_last;
    int m_count = 0;
};

std::string last_line(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    const std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    const size_t end = bytes.size() >= 2 ? bytes.rfind('\n', bytes.size() - 2) : std::string::npos;
    return end == std::string::npos ? bytes : bytes.substr(end + 1);
}

struct Config {
    const char* name;
    const char* mask;  // SYSERRLOG
    const char* bare;  // what the bare loop does
};

int run_config(const Config& config, int argc, char** argv) {
    std::string dir = (std::filesystem::temp_directory_path() / "talvex-bench-XXXXXX").string();
    if (!mkdtemp(dir.data())) return 1;
    setenv("DIR_TMP", dir.c_str(), 1);
    setenv("SYSERRLOG", config.mask, 1);
    Receiver receiver;
    const std::string port = std::to_string(ntohs(receiver.address().sin_port));
    setenv("SYSERRLOG_SYSLOG", ("127.0.0.1:" + port).c_str(), 1);

    const std::string name(config.name);
    const std::string ours = "record/" + name, bare = "bare/" + name;
    benchmark::RegisterBenchmark(ours.c_str(),
                                 [](benchmark::State& state) {
                                     for (auto _ : state) report_one();
                                 })
        ->Repetitions(5)
        ->ReportAggregatesOnly(true);
    const std::string log_path = dir + "/syserrlog.txt";
    const std::string bare_path = dir + "/bare.txt";
    // Two records first, so the bare loops can take the bytes of a later record.
    report_one();
    report_one();
    for (int i = 0; i < 100 && receiver.last().empty() && *config.mask == '8'; ++i) usleep(10000);
    const std::string line = last_line(log_path), datagram = receiver.last();
    benchmark::RegisterBenchmark(
        bare.c_str(),
        [&](benchmark::State& state) {
            if (name == "no_output") {
                for (auto _ : state) {
                    benchmark::DoNotOptimize(time(nullptr));
                    benchmark::DoNotOptimize(getpid());
                    benchmark::DoNotOptimize(gettid());
                }
            } else if (name == "file") {
                const std::string& bytes = line;
                if (bytes.empty()) state.SkipWithError("the record wrote no line");
                for (auto _ : state) {
                    const int fd =
                        open(bare_path.c_str(),
                             O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
                    benchmark::DoNotOptimize(write(fd, bytes.data(), bytes.size()));
                    close(fd);
                }
            } else {
                if (datagram.empty()) state.SkipWithError("the record sent no datagram");
                const int fd = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
                const sockaddr_in to = receiver.address();
                for (auto _ : state) {
                    benchmark::DoNotOptimize(sendto(fd, datagram.data(), datagram.size(), 0,
                                                    reinterpret_cast<const sockaddr*>(&to),
                                                    sizeof to));
                }
                close(fd);
            }
        })
        ->Repetitions(5)
        ->ReportAggregatesOnly(true);

    benchmark::Initialize(&argc, argv);
    PairReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    // The machine is shared, so the ratio is taken from the benchmark thread's CPU
    // time (system calls included); wall time is shown beside it.
    const PairReporter::Times a = reporter.ns(ours), b = reporter.ns(bare);
    if (a.cpu > 0 || b.cpu > 0) {
        std::printf(
            "%-10s record %7.0f ns cpu (%7.0f wall)   bare loop: %s %7.0f ns cpu (%7.0f wall)   "
            "ratio %.2f\n\n",
            config.name, a.cpu, a.real, config.bare, b.cpu, b.real,
            b.cpu > 0 ? a.cpu / b.cpu : 0.0);
    }
    std::fflush(stdout);
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::setlocale(LC_ALL, "C.UTF-8");
    const Config configs[] = {
        {"no_output", "0", "time, getpid, gettid"},
        {"file", "2", "open, append, close"},
        {"syslog", "8", "one sendto"},
    };
    int status = 0;
    for (const Config& config : configs) {
        std::fflush(stdout);
        const pid_t child = fork();
        if (child == 0) _exit(run_config(config, argc, argv));
        int child_status = 0;
        if (child < 0 || waitpid(child, &child_status, 0) < 0 || !WIFEXITED(child_status) ||
            WEXITSTATUS(child_status) != 0) {
            status = 1;
        }
    }
    return status;
}
