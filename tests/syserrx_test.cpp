// The diagnostic log seen from outside: each case runs a program of its own with the
// environment it needs and reads what the log wrote to standard output, to the file in a
// private temp folder, and to a UDP receiver on 127.0.0.1. Its syslog sink and address
// resolution are also called directly.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <ctime>
#include <filesystem>
#include <map>
#include <numeric>
#include <regex>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "code/ipv4.h"
#include "code/syslog_sink.h"
#include "tests/support/child_process.h"
#include "tests/support/log_capture.h"
#include "tests/support/temp_dir.h"
#include "tests/support/udp_receiver.h"

namespace {

namespace fs = std::filesystem;
constexpr size_t npos = std::string::npos;
using Env = std::map<std::string, std::string>;

struct Child {
    int status = -1;      // exit status, -1 when it did not exit normally
    std::string id, out;  // process id (also its main thread's), standard output
    time_t started = 0, ended = 0;
};

// Each zero-padded timestamp in `text` must fall within the child's run; it becomes "T".
std::string check_timestamps(const std::string& text, const Child& child) {
    static const std::regex stamp(R"(\d{4}/\d\d/\d\d-\d\d:\d\d:\d\d UTC)");
    for (std::sregex_iterator m(text.begin(), text.end(), stamp), end; m != end; ++m) {
        std::tm utc{};
        strptime(m->str().c_str(), "%Y/%m/%d-%H:%M:%S UTC", &utc);
        EXPECT_GE(timegm(&utc), child.started);
        EXPECT_LE(timegm(&utc), child.ended);
    }
    return std::regex_replace(text, stamp, "T");
}

class LogOutputs : public testing::Test {
protected:
    TempDir m_dir{"talvex-syserrx"};
    UdpReceiver m_receiver;
    const std::string m_log = m_dir.file("syserrlog.txt"),
                      m_to = "SYSERRLOG_SYSLOG=127.0.0.1:" + std::to_string(m_receiver.port());

    std::vector<LogRecord> records() const { return parse_log_lines(read_file_bytes(m_log)); }
    // Runs the program with the private folder as DIR_TMP, then the steps.
    Child run(std::vector<std::string> args, const std::string& program = SYSERRX_CHILD) const {
        args.insert(args.begin(), {program, "DIR_TMP=" + m_dir.path().string()});
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        const std::string out = m_dir.file("out"), pid = m_dir.file("pid");
        const time_t started = time(nullptr);
        const int status = run_in_child([&] {
            write_file_bytes(pid, std::to_string(getpid()));
            dup2(open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), STDOUT_FILENO);
            execv(program.c_str(), argv.data());
            return 127;
        });
        EXPECT_TRUE(status == 0 || status == CHILD_SKIPPED) << status;
        return {status, read_file_bytes(pid), read_file_bytes(out), started, time(nullptr)};
    }
};

// The plain file ends every line feed, the message's own included, with CR LF; the
// complemented one has the single byte 0xF5 (a complemented LF) and no CR. Only the first
// datagram carries the timestamp. A platform error has kind 1 and the system's text;
// LogValue appends the value, and a '%' in its text is no format.
TEST_F(LogOutputs, EveryOutputsLinesByteForByte) {
    const std::string module = fs::canonical(SYSERRX_CHILD).string();
    char host[HOST_NAME_MAX + 1] = {};
    gethostname(host, sizeof host);
    for (const std::string mask : {"11", " +15junk"}) {  // read like atoi
        SCOPED_TRACE(mask);
        fs::remove(m_log);
        const Child child = run({"SYSERRLOG=" + mask, m_to, "report", "one\ntwo", "error", "2",
                                 "open(path)", "value", "-3", "100%s %n"});
        const std::string id = child.id, who = "PID:" + id + " TID:" + id + " /src/module.cpp@";
        EXPECT_EQ(child.out, who + "42: one\ntwo\n" + who + "44: Check failed [open(path)].\n" +
                                 who + "45: 100%s %n Value=-3\n");
        std::string bytes = read_file_bytes(m_log);
        const bool complemented = mask[0] == ' ';
        EXPECT_EQ(bytes.find_first_of("\r\n") == npos, complemented);
        for (char& c : bytes) c = complemented ? static_cast<char>(~c) : c;
        const std::string n = complemented ? "\n" : "\r\n",
                          head =
                              "\tPID:" + id + "\tTID:" + id + "\t" + module + "\t/src/module.cpp\t";
        EXPECT_EQ(check_timestamps(bytes, child),
                  "00000000" + head + "42\t0x4\t0\tone" + n + "two\t\tT" + n + "00000001" + head +
                      "44\t0xc\t2\tCheck failed [open(path)].\tNo such file or directory\tT" + n +
                      "00000002" + head + "45\t0x4\t0\t100%s %n Value=-3\t\tT" + n);
        const std::string from = "\t" + std::string(host) + "\tPID:" + id + "\tTID:" + id + "\t" +
                                 module + "::/src/module.cpp@";
        const std::vector<std::string> d = m_receiver.receive();
        EXPECT_EQ(check_timestamps(std::accumulate(d.begin(), d.end(), std::string()), child),
                  "<11>00000000" + from + "42\t(0x4, 0):\tone\ntwo\t\tT\n<11>00000001" + from +
                      "44\t(0xc, 2):\tCheck failed [open(path)].\tNo such file or directory\n"
                      "<11>00000002" +
                      from + "45\t(0x4, 0):\t100%s %n Value=-3\t\n");
    }
    fs::remove(m_log);
    EXPECT_EQ(run({"SYSERRLOG=3", "hang-up", "report", "1", "report", "2"}).status, 0)
        << "killed by SIGPIPE?";
    EXPECT_EQ(records().size(), 2u);
}

TEST_F(LogOutputs, WithoutAnOutputBitNothingIsWritten) {
    EXPECT_EQ(run({"SYSERRLOG=16", m_to, "report", "x"}).out + run({"report", "x"}).out, "");
    EXPECT_FALSE(fs::exists(m_log));
    EXPECT_TRUE(m_receiver.receive(100).empty());
}

// In UTS and network namespaces of its own, the child listens on 127.0.0.1 at 514, the
// default port, and prints what arrived. Its host name is longer than a 15-character
// cache would keep.
TEST_F(LogOutputs, TheReceiverIsHostAndPortWithDefaults) {
    const std::pair<std::string, bool> cases[] = {
        {"127.0.0.1", true},                  // no port field
        {":::", true},                        // only colons: localhost and 514
        {"::localhost:::514:ignored", true},  // runs of ':', a name, a third field
        {"127.0.0.1:514abc", true},           // leading digits only
        {"localhost:70000", true},            // above 65535: 514, not 4464
        {"localhost:4294967297", true},       // would wrap to port 1
        {":2130706433", true},      // digits after ':' are the host (127.0.0.1 as a number)
        {"127.0.0.1:x514", false},  // no digits: port 0
        {"localhost:515", false},
        {"127.0.0.1:514:" + std::string(250, 'x'), false},  // too long: never read
        {"", false},                                        // set but empty: no receiver
    };
    const std::string host(64, 'h');
    for (const auto& [value, delivered] : cases) {
        SCOPED_TRACE(value);
        const Child child =
            run({"SYSERRLOG=8", "SYSERRLOG_SYSLOG=" + value, "host", host, "report", "hi"});
        if (child.status == CHILD_SKIPPED) GTEST_SKIP() << "no UTS or network namespace here";
        EXPECT_EQ(child.out.rfind("<11>00000000\t" + host + "\tPID:", 0) == 0, delivered);
    }
}

// The name has an empty label, so the resolver refuses it without asking a name server.
// The report is made while the log starts, once, and the other outputs have it first.
TEST_F(LogOutputs, AnUnresolvableReceiverIsReportedOnceAndFirst) {
    run({"SYSERRLOG=11", "SYSERRLOG_SYSLOG=no..such-host", "report", "first", "report", "2nd"});
    const std::vector<LogRecord> r = records();
    ASSERT_EQ(r.size(), 3u);
    EXPECT_EQ(std::tie(r[0].sequence, r[0].message, r[1].sequence, r[1].message),
              std::make_tuple(0u, "Unknown host 'no..such-host'", 1u, "first"));
}

// 255 three-byte characters in the message and 127 two-byte ones in the path make a
// syslog line of more than 1100 bytes: it is cut to whole characters to fit one datagram.
// The program runs from a folder deeper than 255 characters: its path is shown by its
// end. A character the locale has no bytes for becomes '?'; the record stays.
TEST_F(LogOutputs, LongTextIsCutToWholeCharactersAndOthersReplaced) {
    fs::path folder = m_dir.path();
    for (int i = 0; folder.string().size() < 300; ++i) folder /= "folder-" + std::to_string(i);
    fs::create_directories(folder);
    const std::string program = (folder / "syserrx_child").string();
    fs::copy_file(SYSERRX_CHILD, program);
    std::string euro, path = "/";
    for (int i = 0; i < 300; ++i) euro += "\xE2\x82\xAC";
    for (int i = 0; i < 130; ++i) path += "\xC3\xA9";
    const Child child = run({"SYSERRLOG=11", m_to, "file", path, "wide", euro, "locale", "C",
                             "wide", "caf\xC3\xA9 \xE2\x82\xAC"},
                            program);
    const std::string message = euro.substr(0, 255 * 3), tail = path.substr(path.size() - 127 * 2);
    const std::vector<LogRecord> r = records();
    ASSERT_EQ(r.size(), 2u);
    EXPECT_EQ(std::tie(r[0].message, r[0].file, r[1].message),
              std::make_tuple(message, tail, "caf? ?"));
    EXPECT_EQ(r[0].module, program.substr(program.size() - 255));
    EXPECT_NE(child.out.find(" " + tail + "@43: " + message + "\n"), npos);
    const std::vector<std::string> d = m_receiver.receive();
    ASSERT_EQ(d.size(), 2u);
    EXPECT_TRUE(d[0].size() > 1000 && d[0].size() <= 1024) << d[0].size();
    EXPECT_TRUE(d[0].ends_with("\xE2\x82\xAC\n")) << "no split character";
}

// Something planted under the log's name in a shared folder is left alone; the file that
// must still hold "keep" is checked (none for a dangling link: its target is not made).
TEST_F(LogOutputs, TheFileIsPrivateAndWhatIsPlantedThereIsLeftAlone) {
    run({"SYSERRLOG=2", "report", "x"});
    struct stat st {};
    ASSERT_EQ(stat(m_log.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 077, 0u) << "a new log file is private to its owner";
    const std::string victim = m_dir.file("victim");
    for (const std::string plant : {"symlink", "dangling symlink", "FIFO", "hard link", "theirs"}) {
        SCOPED_TRACE(plant);
        fs::remove(m_log);
        write_file_bytes(victim, "keep");
        if (plant == "dangling symlink") fs::remove(victim);
        if (plant.ends_with("symlink")) fs::create_symlink(victim, m_log);
        ASSERT_TRUE(plant != "FIFO" || mkfifo(m_log.c_str(), 0600) == 0);
        if (plant == "hard link") fs::create_hard_link(victim, m_log);
        if (plant == "theirs") fs::rename(victim, m_log);
        ASSERT_TRUE(plant != "theirs" ||
                    (chmod(m_log.c_str(), 0644) | chown(m_log.c_str(), 65534, 65534)) == 0);
        EXPECT_NE(run({"SYSERRLOG=3", "report", "still here"}).out.find("still here"), npos);
        const std::string kept = plant == "theirs" ? m_log : victim;
        EXPECT_EQ(read_file_bytes(kept) + (fs::exists(kept) ? "" : "gone"),
                  plant == "dangling symlink" ? "gone" : "keep");
    }
}

// The temp folder is the first one set, read once: a thread moving the environment
// meanwhile neither crashes a record nor moves the file; and reports stay safe while
// the process exits.
TEST_F(LogOutputs, SetenvMeanwhileAndReportsDuringExitAreSafe) {
    TempDir other("talvex-other"), later("talvex-later");
    std::vector<std::string> steps = {"SYSERRLOG=2",
                                      "DIR_TMP=",
                                      "TMPDIR=" + m_dir.path().string(),
                                      "TMP=" + later.path().string(),
                                      "report",
                                      "first",
                                      "setenv-thread",
                                      other.path().string()};
    for (int i = 0; i < 200; ++i) steps.insert(steps.end(), {"report", "during"});
    steps.insert(steps.end(), {"exit-reporting", "at exit"});
    run(steps);
    EXPECT_FALSE(fs::exists(other.file("syserrlog.txt")) ||
                 fs::exists(later.file("syserrlog.txt")));
    const std::vector<LogRecord> r = records();
    ASSERT_GE(r.size(), 202u);
    EXPECT_EQ(std::tie(r[0].message, r[200].message), std::make_tuple("first", "during"));
    EXPECT_TRUE(std::any_of(r.begin() + 201, r.end(), [](const LogRecord& x) {
        return x.message == "at exit";
    })) << "the static object's report is written";
}

TEST_F(LogOutputs, ManyThreadsWriteWholeLinesInNumberOrder) {
    constexpr int kThreads = 8, kEach = 150;
    const Child child =
        run({"SYSERRLOG=3", "threads", std::to_string(kThreads), std::to_string(kEach)});
    const std::string bytes = read_file_bytes(m_log);
    const std::vector<LogRecord> r = parse_log_lines(bytes);
    ASSERT_EQ(r.size(), static_cast<size_t>(kThreads * kEach));
    EXPECT_EQ(static_cast<size_t>(std::count(bytes.begin(), bytes.end(), '\n')), r.size());
    std::map<int, int> next_of_thread;
    std::set<std::string> tids, threads_and_tids;
    std::string console;
    for (size_t i = 0; i < r.size(); ++i) {
        int thread = -1, record = -1;
        ASSERT_EQ(sscanf(r[i].message.c_str(), "thread %d record %d", &thread, &record), 2);
        EXPECT_EQ(std::tie(r[i].sequence, record), std::make_tuple(i, next_of_thread[thread]++));
        tids.insert(r[i].tid);
        threads_and_tids.insert(std::to_string(thread) + " " + r[i].tid);
        console += r[i].pid + " " + r[i].tid + " /src/module.cpp@42: " + r[i].message + "\n";
    }
    EXPECT_EQ(tids.size(), static_cast<size_t>(kThreads)) << "a thread id per thread";
    EXPECT_EQ(threads_and_tids.size(), tids.size());
    EXPECT_EQ(child.out, console) << "console lines in the order of the file lines";
}

// Each lookup fails anew; its report is written whole, numbered, before the record that
// asked, and the datagrams name an unknown computer.
TEST_F(LogOutputs, AFailingHostNameLookupReportsOnceNestedAndFallsBack) {
    run({"SYSERRLOG=10", m_to, "report", "first", "report", "second"},
        SYSERRX_CHILD_FAILING_HOSTNAME);
    const std::vector<LogRecord> r = records();
    const std::vector<std::string> d = m_receiver.receive();
    ASSERT_EQ(r.size(), 4u);
    ASSERT_EQ(d.size(), 4u);
    for (uint32_t i = 0; i < 4; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(d[i].rfind("<11>0000000" + std::to_string(i) + "\tUnknown computer\t", 0), 0u);
        EXPECT_EQ(std::tie(r[i].sequence, r[i].message, r[i].error_text),
                  i % 2 ? std::make_tuple(i, i == 1 ? "first" : "second", "")
                        : std::make_tuple(i, "Check failed [GetComputerNameW(name, &name_size)].",
                                          "Operation not permitted"));
    }
}

// The rest is reached only by calling directly: dotted addresses and names are resolved
// above, through the log's receiver.
TEST(Ipv4Resolve, FailuresAreReported) {
    LogCapture log;
    const std::pair<const char*, uint32_t> cases[] = {
        {"255.255.255.255", 0xFFFFFFFFu},  // the dotted form's failure value: looked up
        {"0.0.0.0", 0},                    // looked up as a name, and 0.0.0.0 is no receiver
        {nullptr, 0},
        {"", 0},
    };
    for (const auto& [host, address] : cases) {
        EXPECT_EQ(ipv4_resolve(host), address) << (host ? host : "(null)");
    }
    const std::string empty = "verify((hostname && (hostname[0] != 0))) failure";
    EXPECT_EQ(log.messages(),
              (std::vector<std::string>{"Assertion failure: ip != 0", empty, empty}));
}

// An unresolved receiver (0.0.0.0 would reach this host on Linux) or port gets nothing.
TEST(SyslogSink, DatagramIsPriorityThenTextOfAtMost1020Bytes) {
    UdpReceiver receiver;
    Syslog sink("localhost", receiver.port());
    const std::string fits(1020, 'x');
    EXPECT_TRUE(sink.send_text("hello\n", 3, 1));
    EXPECT_TRUE(sink.send(L"caf\u00e9", 0, 23));
    EXPECT_TRUE(sink.send_text(fits.c_str(), 3, 1));
    EXPECT_FALSE(sink.send_text(std::string(1021, 'y').c_str(), 3, 1) ||
                 sink.send(std::wstring(2000, L'z').c_str(), 3, 1) ||
                 sink.send(L"bad \xDC00 surrogate", 3, 1) || sink.send(nullptr, 3, 1) ||
                 sink.send_text(nullptr, 3, 1) ||
                 Syslog("no..such-host", receiver.port()).send_text("lost", 3, 1) ||
                 Syslog("127.0.0.1", 70000).send_text("lost", 3, 1));
    EXPECT_EQ(receiver.receive(),
              (std::vector<std::string>{"<11>hello\n", "<184>caf\xC3\xA9", "<11>" + fits}));
}

}  // namespace
