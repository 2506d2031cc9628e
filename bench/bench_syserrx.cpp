// The cost of one diagnostic record, beside a bare loop making the same system
// calls with the same bytes. The log reads its configuration once per process,
// so each output is measured in a child process of its own, forked before any
// report is made.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <clocale>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>

#include "code/syserrx.h"
#include "tests/support/udp_receiver.h"

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
    // Nobody drains it while the loops run: once its queue is full, the record's
    // datagrams and the bare loop's are dropped alike.
    UdpReceiver receiver;
    setenv("SYSERRLOG_SYSLOG", ("127.0.0.1:" + std::to_string(receiver.port())).c_str(), 1);

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
    // The second datagram: the first carries a timestamp the others do not.
    const std::vector<std::string> sent = receiver.receive(*config.mask == '8' ? 200 : 0);
    const std::string line = last_line(log_path), datagram = sent.size() > 1 ? sent[1] : "";
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
                sockaddr_in to{};
                to.sin_family = AF_INET;
                to.sin_port = htons(receiver.port());
                to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
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
