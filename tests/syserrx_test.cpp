// The diagnostic log seen from outside: each case runs a program of its own with
// the environment it needs and reads what the log wrote to standard output, to
// the file in a private temp folder, and to a UDP receiver on 127.0.0.1.
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "tests/support/log_capture.h"
#include "tests/support/temp_dir.h"
#include "tests/support/udp_receiver.h"

extern char** environ;

namespace {

struct ChildResult {
    int status = -1;  // exit status, -1 when it did not exit normally
    pid_t pid = 0;
    std::string out;
    time_t started = 0, ended = 0;
};

using Env = std::map<std::string, std::string>;

// Runs the log's test program with exactly `env` (plus the sanitizers' options).
// With `hang_up`, nobody reads its standard output: the pipe is closed at once.
ChildResult run_child(const std::string& program, const Env& env,
                      const std::vector<std::string>& steps, bool hang_up = false) {
    std::vector<std::string> env_text;
    for (const auto& [name, value] : env) env_text.push_back(name + "=" + value);
    for (const char* name : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "TSAN_OPTIONS", "LSAN_OPTIONS"}) {
        if (const char* value = getenv(name)) env_text.push_back(std::string(name) + "=" + value);
    }
    std::vector<char*> envp, argv;
    for (std::string& e : env_text) envp.push_back(e.data());
    envp.push_back(nullptr);
    std::vector<std::string> args{program};
    args.insert(args.end(), steps.begin(), steps.end());
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);

    ChildResult result;
    int out[2];
    if (pipe(out) != 0) return result;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    result.started = time(nullptr);
    const int spawned =
        posix_spawn(&result.pid, program.c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    if (hang_up) close(out[0]);
    if (spawned == 0) {
        char buffer[4096];
        for (ssize_t n; !hang_up && (n = read(out[0], buffer, sizeof buffer)) > 0;) {
            result.out.append(buffer, static_cast<size_t>(n));
        }
        int status = 0;
        waitpid(result.pid, &status, 0);
        result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    if (!hang_up) close(out[0]);
    result.ended = time(nullptr);
    return result;
}

std::string module_path(const char* program) {
    return std::filesystem::canonical(program).string();
}

std::string host_name() {
    char name[HOST_NAME_MAX + 1] = {};
    gethostname(name, sizeof name);
    return name;
}

// The timestamp field: its layout, and a time within the child's run.
void expect_timestamp(const std::string& text, const ChildResult& child) {
    std::tm utc{};
    const char* end = strptime(text.c_str(), "%Y/%m/%d-%H:%M:%S UTC", &utc);
    ASSERT_TRUE(end && *end == '\0') << text;
    char again[32];
    ASSERT_GT(strftime(again, sizeof again, "%Y/%m/%d-%H:%M:%S UTC", &utc), 0u);
    EXPECT_EQ(text, again) << "every field zero-padded";
    const time_t stamp = timegm(&utc);
    EXPECT_GE(stamp, child.started);
    EXPECT_LE(stamp, child.ended);
}

std::vector<std::string> split(const std::string& text, char separator) {
    std::vector<std::string> fields;
    size_t start = 0;
    for (size_t end; (end = text.find(separator, start)) != std::string::npos; start = end + 1) {
        fields.push_back(text.substr(start, end - start));
    }
    fields.push_back(text.substr(start));
    return fields;
}

std::string complemented(const std::string& bytes) {
    std::string out;
    for (const char c : bytes) out.push_back(static_cast<char>(~static_cast<unsigned char>(c)));
    return out;
}

class LogOutputs : public testing::Test {
protected:
    TempDir m_dir{"talvex-syserrx"};
    UdpReceiver m_receiver;
    const std::string m_module = module_path(SYSERRX_CHILD);

    std::string log_file() const { return m_dir.file("syserrlog.txt"); }
    std::string file_bytes() const { return read_file_bytes(log_file()); }
    std::string receiver() const { return "127.0.0.1:" + std::to_string(m_receiver.port()); }
    Env env(const std::string& mask) const {
        return {{"SYSERRLOG", mask}, {"DIR_TMP", m_dir.path().string()}};
    }
    ChildResult run(const Env& e, const std::vector<std::string>& steps,
                    const char* program = SYSERRX_CHILD) const {
        ChildResult child = run_child(program, e, steps);
        EXPECT_EQ(child.status, 0);
        return child;
    }
};

// --- the three lines, byte for byte ------------------------------------------------

TEST_F(LogOutputs, AConsoleNobodyReadsDoesNotEndTheProcess) {
    const ChildResult child =
        run_child(SYSERRX_CHILD, env("3"), {"report", "first", "report", "second"}, true);
    EXPECT_EQ(child.status, 0) << "killed by SIGPIPE?";
    EXPECT_EQ(parse_log_lines(file_bytes()).size(), 2u);
}

TEST_F(LogOutputs, ConsoleLine) {
    const ChildResult child = run(env("1"), {"report", "first", "report", "second"});
    const std::string id = std::to_string(child.pid);
    EXPECT_EQ(child.out, "PID:" + id + " TID:" + id + " /src/module.cpp@42: first\n" + "PID:" + id +
                             " TID:" + id + " /src/module.cpp@42: second\n");
    EXPECT_FALSE(std::filesystem::exists(log_file()));
}

TEST_F(LogOutputs, FileLinesEndWithCrLfAndCountFromZero) {
    const ChildResult child = run(env("2"), {"report", "first", "report", "second"});
    EXPECT_EQ(child.out, "");
    const std::string bytes = file_bytes();
    const std::vector<std::string> lines = split(bytes, '\n');
    ASSERT_EQ(lines.size(), 3u) << bytes;
    EXPECT_EQ(lines[2], "");
    const std::string id = std::to_string(child.pid);
    for (int i = 0; i < 2; ++i) {
        const std::vector<std::string> f = split(lines[i], '\t');
        ASSERT_EQ(f.size(), 11u) << lines[i];
        const std::string head =
            std::string(i == 0 ? "00000000" : "00000001") + "\tPID:" + id + "\tTID:" + id + "\t" +
            m_module + "\t/src/module.cpp\t42\t0x4\t0\t" + (i == 0 ? "first" : "second") + "\t\t";
        EXPECT_EQ(lines[i].substr(0, head.size()), head);
        ASSERT_EQ(f[10].back(), '\r');
        expect_timestamp(f[10].substr(0, f[10].size() - 1), child);
    }
}

TEST_F(LogOutputs, ComplementedFileHasSingleF5LineEnds) {
    const ChildResult child = run(env("6"), {"report", "one\ntwo", "report", "three"});
    const std::string bytes = file_bytes();
    // Every line feed, the message's own included, is one byte 0xF5 and no CR.
    EXPECT_EQ(bytes.find('\r'), std::string::npos);
    EXPECT_EQ(bytes.find('\n'), std::string::npos);
    EXPECT_EQ(bytes.back(), static_cast<char>(0xF5));
    const std::vector<std::string> lines = split(complemented(bytes), '\n');
    ASSERT_EQ(lines.size(), 4u);
    const std::string id = std::to_string(child.pid);
    const std::string head =
        "\tPID:" + id + "\tTID:" + id + "\t" + m_module + "\t/src/module.cpp\t42\t0x4\t0\t";
    EXPECT_EQ(lines[0], "00000000" + head + "one");
    ASSERT_EQ(lines[1].rfind("two\t\t", 0), 0u) << lines[1];
    expect_timestamp(lines[1].substr(5), child);
    const std::string second = "00000001" + head + "three\t\t";
    ASSERT_EQ(lines[2].rfind(second, 0), 0u) << lines[2];
    expect_timestamp(lines[2].substr(second.size()), child);
    EXPECT_EQ(lines[3], "");
}

TEST_F(LogOutputs, SyslogDatagramsCarryTheTimestampOnlyFirst) {
    Env e = env("8");
    e["SYSERRLOG_SYSLOG"] = receiver();
    const ChildResult child = run(e, {"report", "first", "report", "second", "report", "third"});
    EXPECT_EQ(child.out, "");
    EXPECT_FALSE(std::filesystem::exists(log_file()));
    const std::vector<std::string> datagrams = m_receiver.receive();
    ASSERT_EQ(datagrams.size(), 3u);
    const std::string id = std::to_string(child.pid);
    const std::string who = "\t" + host_name() + "\tPID:" + id + "\tTID:" + id + "\t" + m_module +
                            "::/src/module.cpp@42\t(0x4, 0):\t";
    const std::string first = "<11>00000000" + who + "first\t\t";
    ASSERT_EQ(datagrams[0].substr(0, first.size()), first);
    ASSERT_EQ(datagrams[0].back(), '\n');
    EXPECT_EQ(split(datagrams[0], '\t').size(), 9u);
    expect_timestamp(datagrams[0].substr(first.size(), datagrams[0].size() - first.size() - 1),
                     child);
    EXPECT_EQ(datagrams[1], "<11>00000001" + who + "second\t\n");
    EXPECT_EQ(datagrams[2], "<11>00000002" + who + "third\t\n");
    EXPECT_EQ(split(datagrams[1], '\t').size(), 8u);
}

TEST_F(LogOutputs, PlatformErrorHasKindOneAndTheSystemText) {
    Env e = env("11");
    e["SYSERRLOG_SYSLOG"] = receiver();
    const ChildResult child = run(e, {"error", "2", "open(path)"});
    const std::vector<LogRecord> records = parse_log_lines(file_bytes());
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].flags, 0xcu);
    EXPECT_EQ(records[0].error, 2u);
    EXPECT_EQ(records[0].message, "Check failed [open(path)].");
    EXPECT_EQ(records[0].error_text, "No such file or directory");
    EXPECT_NE(
        file_bytes().find("\t0xc\t2\tCheck failed [open(path)].\tNo such file or directory\t"),
        std::string::npos);
    const std::vector<std::string> datagrams = m_receiver.receive();
    ASSERT_EQ(datagrams.size(), 1u);
    EXPECT_NE(datagrams[0].find("@44\t(0xc, 2):\tCheck failed [open(path)].\tNo such file or "
                                "directory\t"),
              std::string::npos)
        << datagrams[0];
    EXPECT_NE(child.out.find("@44: Check failed [open(path)].\n"), std::string::npos);
}

TEST_F(LogOutputs, LogValueAppendsTheValueAndPrintsPercentAsItself) {
    run(env("2"), {"value", "-7", "Bad kind", "value", "3", "100%s %n done"});
    EXPECT_EQ(parse_log_lines(file_bytes()).size(), 2u);
    const std::vector<LogRecord> records = parse_log_lines(file_bytes());
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].message, "Bad kind Value=-7");
    EXPECT_EQ(records[1].message, "100%s %n done Value=3");
    EXPECT_EQ(records[1].line, 45u);
}

// --- configuration ---------------------------------------------------------------

TEST_F(LogOutputs, NothingIsWrittenWithoutAUsableMask) {
    for (const char* mask : {"", "0", "abc", "8", "16"}) {
        Env e = {{"DIR_TMP", m_dir.path().string()}};
        if (*mask) e["SYSERRLOG"] = mask;
        const ChildResult child = run(e, {"report", "nothing"});
        EXPECT_EQ(child.out, "") << mask;
        EXPECT_FALSE(std::filesystem::exists(log_file())) << mask;
    }
    Env e = env("8");
    e["SYSERRLOG_SYSLOG"] = "";
    run(e, {"report", "nothing"});
    EXPECT_TRUE(m_receiver.receive(50).empty());
}

TEST_F(LogOutputs, MaskIsReadLikeAtoi) {
    run(env(" +3junk"), {"report", "x"});
    EXPECT_EQ(parse_log_lines(file_bytes()).size(), 1u);
    const ChildResult child = run(env("1"), {"report", "y"});
    EXPECT_NE(child.out.find("@42: y\n"), std::string::npos);
}

TEST_F(LogOutputs, TheFileGoesToTheFirstTempFolderFound) {
    TempDir tmpdir("talvex-tmpdir"), tmp("talvex-tmp");
    run({{"SYSERRLOG", "2"}, {"TMP", tmp.path().string()}, {"TEMP", "/nonexistent"}},
        {"report", "to TMP"});
    EXPECT_EQ(parse_log_lines(read_file_bytes(tmp.file("syserrlog.txt"))).size(), 1u);
    run({{"SYSERRLOG", "2"}, {"TMPDIR", tmpdir.path().string()}, {"TMP", tmp.path().string()}},
        {"report", "to TMPDIR"});
    EXPECT_EQ(parse_log_lines(read_file_bytes(tmpdir.file("syserrlog.txt"))).size(), 1u);
    EXPECT_EQ(parse_log_lines(read_file_bytes(tmp.file("syserrlog.txt"))).size(), 1u);
}

struct ReceiverCase {
    std::string value;  // SYSERRLOG_SYSLOG; "<port>" stands for the receiver's port
    bool delivered;
};

TEST_F(LogOutputs, ReceiverHostAndPortOnTheTestPort) {
    const std::string port = std::to_string(m_receiver.port());
    const std::vector<ReceiverCase> cases = {
        {"127.0.0.1:" + port, true},
        {"::127.0.0.1:::" + port + ":ignored", true},  // runs of ':' and a third field
        {"localhost:" + port, true},                   // looked up by name
        {"127.0.0.1:" + port + "abc", true},           // leading digits only
        {"127.0.0.1:x" + port, false},                 // no digits: port 0
        {"127.0.0.1:" + std::to_string(m_receiver.port() + 65536), false},  // above 65535: 514
        {"127.0.0.1:" + port + ":" + std::string(250, 'x'), false},         // too long: never read
    };
    for (size_t i = 0; i < cases.size(); ++i) {
        const ReceiverCase& c = cases[i];
        const std::string message = "case " + std::to_string(i);
        Env e = env("9");
        e["SYSERRLOG_SYSLOG"] = c.value;
        const ChildResult child = run(e, {"report", message});
        EXPECT_NE(child.out.find(": " + message + "\n"), std::string::npos) << "console works";
        // Loopback delivery is done when sendto returns, so a short wait suffices.
        const std::vector<std::string> datagrams = m_receiver.receive(100);
        ASSERT_EQ(datagrams.size(), c.delivered ? 1u : 0u) << c.value;
        if (c.delivered) {
            EXPECT_NE(datagrams[0].find("\t" + message + "\t"), std::string::npos);
        }
    }
}

// Port 514 is the default: these run in a network namespace of their own, where the
// child itself listens on 127.0.0.1:514 and hands back what arrived.
TEST_F(LogOutputs, ReceiverDefaultsToLocalhostPort514) {
    const std::vector<ReceiverCase> cases = {
        {"127.0.0.1", true},             // no port field
        {"localhost", true},             // a name without a port
        {":::", true},                   // only colons: localhost and 514
        {"localhost:70000", true},       // above 65535
        {"localhost:4294967297", true},  // would wrap to port 1
        {":2130706433", true},           // digits after ':' are the host (127.0.0.1 as a number)
        {"localhost:515", false},
    };
    for (const ReceiverCase& c : cases) {
        Env e = env("8");
        e["SYSERRLOG_SYSLOG"] = c.value;
        const std::string received = m_dir.file("received");
        const ChildResult child = run_child(
            SYSERRX_CHILD, e, {"netns", "listen", "514", "report", "hello", "drain", received});
        if (child.status == 77) GTEST_SKIP() << "no network namespace can be made here";
        ASSERT_EQ(child.status, 0);
        const std::string bytes = read_file_bytes(received);
        EXPECT_EQ(bytes.find("<11>00000000\t") != std::string::npos, c.delivered) << c.value;
    }
}

// The host name has an empty label, so the resolver refuses it without asking a
// name server: tests send nothing beyond this machine.
TEST_F(LogOutputs, AnUnresolvableHostIsReportedOnceAndNothingIsSent) {
    Env e = env("11");
    e["SYSERRLOG_SYSLOG"] = "no..such-host:" + std::to_string(m_receiver.port());
    const ChildResult child = run(e, {"report", "first", "report", "second"});
    const std::vector<LogRecord> records = parse_log_lines(file_bytes());
    ASSERT_EQ(records.size(), 3u);
    // Made while the log started, inside the first report, with a number of its own.
    EXPECT_EQ(records[0].message, "Unknown host 'no..such-host'");
    EXPECT_EQ(records[0].sequence, 0u);
    EXPECT_NE(records[0].file.find("ipv4.cpp"), std::string::npos);
    EXPECT_EQ(records[1].message, "first");
    EXPECT_EQ(records[1].sequence, 1u);
    EXPECT_EQ(records[2].sequence, 2u);
    EXPECT_NE(child.out.find(": Unknown host 'no..such-host'\n"), std::string::npos);
    // On Linux 0.0.0.0 means this host: the unresolved receiver must not get it.
    EXPECT_TRUE(m_receiver.receive(300).empty());
}

// --- bounds ----------------------------------------------------------------------

TEST_F(LogOutputs, LongMessageAndPathAreCut) {
    const std::string message(300, 'm');
    std::string path = "/";
    for (int i = 0; path.size() < 200; ++i) path += "dir" + std::to_string(i) + "/";
    path.resize(196);
    path += "f.cpp";
    const ChildResult child = run(env("3"), {"file", path, "report", message});
    const std::vector<LogRecord> records = parse_log_lines(file_bytes());
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].message, std::string(255, 'm'));
    EXPECT_EQ(records[0].file, path.substr(path.size() - 127));
    EXPECT_NE(child.out.find(" " + path.substr(path.size() - 127) +
                             "@42: " + std::string(255, 'm') + "\n"),
              std::string::npos);
}

TEST_F(LogOutputs, WideTextIsWrittenAsUtf8AndTheDatagramStillFits) {
    // 255 three-byte characters in the message and in the path make a syslog line of
    // more than 1100 bytes: it is cut to fit one datagram, whole characters only.
    std::string euro, path = "/";
    for (int i = 0; i < 300; ++i) euro += "\xE2\x82\xAC";
    for (int i = 0; i < 130; ++i) path += "\xC3\xA9";
    Env e = env("10");
    e["SYSERRLOG_SYSLOG"] = receiver();
    run(e, {"file", path, "wide", euro});
    const std::vector<LogRecord> records = parse_log_lines(file_bytes());
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].message, euro.substr(0, 255 * 3));
    EXPECT_EQ(records[0].file, path.substr(path.size() - 127 * 2));
    const std::vector<std::string> datagrams = m_receiver.receive();
    ASSERT_EQ(datagrams.size(), 1u);
    const std::string& d = datagrams[0];
    EXPECT_LE(d.size(), 1024u);
    EXPECT_GT(d.size(), 1000u);
    EXPECT_EQ(d.back(), '\n');
    const std::string body = d.substr(0, d.size() - 1);
    EXPECT_EQ(std::string(body.end() - 3, body.end()), "\xE2\x82\xAC") << "no split character";
}

TEST_F(LogOutputs, AnExecutablePathLongerThan255IsShownByItsEnd) {
    std::filesystem::path folder = m_dir.path();
    for (int i = 0; folder.string().size() < 300; ++i) folder /= "folder-" + std::to_string(i);
    std::filesystem::create_directories(folder);
    const std::filesystem::path program = folder / "syserrx_child";
    std::filesystem::copy_file(SYSERRX_CHILD, program);
    run(env("2"), {"report", "moved"}, program.c_str());
    const std::vector<LogRecord> records = parse_log_lines(file_bytes());
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].module, program.string().substr(program.string().size() - 255));
}

// --- the log file in a shared folder -----------------------------------------------

TEST_F(LogOutputs, APlantedSymbolicLinkIsNotFollowed) {
    const std::string victim = m_dir.file("victim");
    write_file_bytes(victim, "keep");
    std::filesystem::create_symlink(victim, log_file());
    const ChildResult child = run(env("3"), {"report", "not into the victim"});
    EXPECT_EQ(read_file_bytes(victim), "keep");
    EXPECT_TRUE(std::filesystem::is_symlink(log_file()));
    EXPECT_NE(child.out.find("not into the victim"), std::string::npos) << "the console works";

    // A dangling link must not make the log create its target either.
    std::filesystem::remove(log_file());
    std::filesystem::remove(victim);
    std::filesystem::create_symlink(victim, log_file());
    run(env("2"), {"report", "not creating the victim"});
    EXPECT_FALSE(std::filesystem::exists(victim));
}

TEST_F(LogOutputs, APlantedFifoDoesNotBlockTheLog) {
    ASSERT_EQ(mkfifo(log_file().c_str(), 0600), 0);
    const ChildResult child = run(env("3"), {"report", "still here"});
    EXPECT_NE(child.out.find("still here"), std::string::npos);
}

TEST_F(LogOutputs, ANewLogFileIsPrivateToItsOwner) {
    run(env("2"), {"report", "x"});
    struct stat st {};
    ASSERT_EQ(stat(log_file().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 077, 0u);
}

// --- threads and nesting ---------------------------------------------------------

TEST_F(LogOutputs, ManyThreadsWriteWholeLinesInNumberOrder) {
    constexpr int kThreads = 8, kEach = 150;
    const ChildResult child =
        run(env("3"), {"threads", std::to_string(kThreads), std::to_string(kEach)});
    const std::string bytes = file_bytes();
    const std::vector<LogRecord> records = parse_log_lines(bytes);
    ASSERT_EQ(records.size(), static_cast<size_t>(kThreads * kEach));
    EXPECT_EQ(split(bytes, '\n').size(), records.size() + 1) << "no broken lines";
    std::map<int, int> next_of_thread;
    std::map<int, std::string> tid_of_thread;
    for (size_t i = 0; i < records.size(); ++i) {
        EXPECT_EQ(records[i].sequence, i);
        int thread = -1, record = -1, used = 0;
        ASSERT_EQ(
            sscanf(records[i].message.c_str(), "thread %d record %d%n", &thread, &record, &used),
            2);
        ASSERT_EQ(static_cast<size_t>(used), records[i].message.size());
        EXPECT_EQ(record, next_of_thread[thread]++) << "a thread's own order";
        const auto known = tid_of_thread.emplace(thread, records[i].tid).first;
        EXPECT_EQ(known->second, records[i].tid);
    }
    EXPECT_EQ(next_of_thread.size(), static_cast<size_t>(kThreads));
    const std::vector<std::string> console = split(child.out, '\n');
    ASSERT_EQ(console.size(), records.size() + 1);
    // The console line of each record comes out in the same order as its file line.
    for (size_t i = 0; i < records.size(); ++i) {
        EXPECT_EQ(console[i], records[i].pid + " " + records[i].tid +
                                  " /src/module.cpp@42: " + records[i].message);
    }
}

TEST_F(LogOutputs, AFailingHostNameLookupReportsOnceNestedAndFallsBack) {
    Env e = env("10");
    e["SYSERRLOG_SYSLOG"] = receiver();
    run(e, {"report", "first", "report", "second"}, SYSERRX_CHILD_FAILING_HOSTNAME);
    const std::vector<LogRecord> records = parse_log_lines(file_bytes());
    ASSERT_EQ(records.size(), 4u);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(records[i].sequence, static_cast<uint32_t>(i));
    // Each lookup fails anew; its report is written whole before the record that asked.
    for (int i : {0, 2}) {
        EXPECT_EQ(records[i].message, "Check failed [GetComputerNameW(name, &name_size)].");
        EXPECT_EQ(records[i].flags, 0xcu);
        EXPECT_EQ(records[i].error, 1u);
        EXPECT_EQ(records[i].error_text, "Operation not permitted");
        EXPECT_NE(records[i].file.find("computername.cpp"), std::string::npos);
    }
    EXPECT_EQ(records[1].message, "first");
    EXPECT_EQ(records[3].message, "second");
    const std::vector<std::string> datagrams = m_receiver.receive();
    ASSERT_EQ(datagrams.size(), 4u);
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(datagrams[i].rfind("<11>0000000" + std::to_string(i) + "\tUnknown computer\t", 0),
                  0u)
            << datagrams[i];
    }
}

TEST_F(LogOutputs, ALongHostNameIsShownWhole) {
    const std::string name(64, 'h');
    Env e = env("8");
    const std::string received = m_dir.file("received");
    e["SYSERRLOG_SYSLOG"] = "127.0.0.1:514";
    const ChildResult child = run_child(
        SYSERRX_CHILD, e,
        {"uts-hostname", name, "netns", "listen", "514", "report", "named", "drain", received});
    if (child.status == 77) GTEST_SKIP() << "no UTS or network namespace can be made here";
    ASSERT_EQ(child.status, 0);
    EXPECT_NE(read_file_bytes(received).find("<11>00000000\t" + name + "\tPID:"),
              std::string::npos);
}

}  // namespace
