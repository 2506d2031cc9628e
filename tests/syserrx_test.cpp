// The diagnostic log seen from outside: each case runs a program of its own with
// the environment it needs and reads what the log wrote to standard output, to
// the file in a private temp folder, and to a UDP receiver on 127.0.0.1.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <ctime>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <tuple>
#include <vector>

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

// The timestamp field: its zero-padded layout, and a time within the child's run.
void expect_timestamp(const std::string& text, const Child& child) {
    std::tm utc{};
    char again[32] = {};
    strptime(text.c_str(), "%Y/%m/%d-%H:%M:%S UTC", &utc);
    strftime(again, sizeof again, "%Y/%m/%d-%H:%M:%S UTC", &utc);
    EXPECT_EQ(text, again);
    EXPECT_GE(timegm(&utc), child.started);
    EXPECT_LE(timegm(&utc), child.ended);
}

class LogOutputs : public testing::Test {
protected:
    TempDir m_dir{"talvex-syserrx"}, m_run{"talvex-syserrx-run"};
    UdpReceiver m_receiver;
    const std::string m_log = m_dir.file("syserrlog.txt");

    std::string receiver() const { return "127.0.0.1:" + std::to_string(m_receiver.port()); }
    std::vector<LogRecord> records() const { return parse_log_lines(read_file_bytes(m_log)); }
    Env env(const std::string& mask, const char* syslog = nullptr) const {
        Env e{{"SYSERRLOG", mask}, {"DIR_TMP", m_dir.path().string()}};
        if (syslog) e["SYSERRLOG_SYSLOG"] = syslog;
        return e;
    }
    // Runs a program with exactly `e` (plus the sanitizers' options). With `hang_up`,
    // its standard output is a pipe nobody reads.
    Child run_child(Env e, std::vector<std::string> args,
                    const std::string& program = SYSERRX_CHILD, bool hang_up = false) const {
        for (const char* name : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "TSAN_OPTIONS", "LSAN_OPTIONS"}) {
            if (const char* value = getenv(name)) e[name] = value;
        }
        std::vector<std::string> text;
        for (const auto& [name, value] : e) text.push_back(name + "=" + value);
        args.insert(args.begin(), program);
        std::vector<char*> envp, argv;
        for (std::string& t : text) envp.push_back(t.data());
        for (std::string& a : args) argv.push_back(a.data());
        envp.push_back(nullptr);
        argv.push_back(nullptr);
        const std::string out = m_run.file("out"), pid = m_run.file("pid");
        Child child;
        child.started = time(nullptr);
        child.status = run_in_child([&] {
            write_file_bytes(pid, std::to_string(getpid()));
            int fd[2] = {-1, open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600)};
            if (hang_up && (pipe(fd) != 0 || close(fd[0]) != 0)) return 126;
            dup2(fd[1], STDOUT_FILENO);
            execve(program.c_str(), argv.data(), envp.data());
            return 127;
        });
        child.ended = time(nullptr);
        child.id = read_file_bytes(pid);
        child.out = read_file_bytes(out);
        return child;
    }
    Child run(const Env& e, const std::vector<std::string>& steps,
              const std::string& program = SYSERRX_CHILD) const {
        Child child = run_child(e, steps, program);
        EXPECT_EQ(child.status, 0);
        return child;
    }
};

// --- the three lines, byte for byte ------------------------------------------------

// The plain file ends every line feed, the message's own included, with CR LF; the
// complemented one has the single byte 0xF5 (a complemented LF) and no CR.
TEST_F(LogOutputs, ConsoleAndFileLinesPlainAndComplemented) {
    const std::string module = fs::canonical(SYSERRX_CHILD).string();
    for (const std::string mask : {"3", "7"}) {
        SCOPED_TRACE(mask);
        fs::remove(m_log);
        const Child child = run(env(mask), {"report", "one\ntwo", "report", "three"});
        const std::string who = "PID:" + child.id + " TID:" + child.id + " /src/module.cpp@42: ";
        EXPECT_EQ(child.out, who + "one\ntwo\n" + who + "three\n");
        std::string bytes = read_file_bytes(m_log);
        const bool complemented = mask == "7";
        EXPECT_EQ(bytes.find_first_of("\r\n") == npos, complemented);
        if (complemented) {
            for (char& c : bytes) c = static_cast<char>(~c);
        }
        const std::string end = complemented ? "\n" : "\r\n",
                          head = "\tPID:" + child.id + "\tTID:" + child.id + "\t" + module +
                                 "\t/src/module.cpp\t42\t0x4\t0\t";
        const size_t first = bytes.find("two\t\t") + 5, second = bytes.size() - end.size() - 23;
        const std::string time0 = bytes.substr(first, 23), time1 = bytes.substr(second, 23);
        expect_timestamp(time0, child);
        expect_timestamp(time1, child);
        EXPECT_EQ(bytes, "00000000" + head + "one" + end + "two\t\t" + time0 + end + "00000001" +
                             head + "three\t\t" + time1 + end);
    }
    fs::remove(m_log);
    const Child hung_up = run_child(env("3"), {"report", "1", "report", "2"}, SYSERRX_CHILD, true);
    EXPECT_EQ(hung_up.status, 0) << "killed by SIGPIPE?";
    EXPECT_EQ(records().size(), 2u);
}

// Only the first datagram carries the timestamp. A platform error has kind 1 and the
// system's text; LogValue appends the value, and a '%' in its text is no format.
TEST_F(LogOutputs, SyslogDatagramsErrorsAndValues) {
    const Child child =
        run(env("10", receiver().c_str()),
            {"report", "first", "error", "2", "open(path)", "value", "-3", "100%s %n"});
    EXPECT_EQ(child.out, "");
    const std::vector<std::string> d = m_receiver.receive();
    ASSERT_EQ(d.size(), 3u);
    char host[HOST_NAME_MAX + 1] = {};
    gethostname(host, sizeof host);
    const std::string who = "\t" + std::string(host) + "\tPID:" + child.id + "\tTID:" + child.id +
                            "\t" + fs::canonical(SYSERRX_CHILD).string() + "::/src/module.cpp@";
    const std::string first = "<11>00000000" + who + "42\t(0x4, 0):\tfirst\t\t";
    ASSERT_EQ(d[0].compare(0, first.size(), first), 0) << d[0];
    ASSERT_EQ(d[0].back(), '\n');
    expect_timestamp(d[0].substr(first.size(), d[0].size() - first.size() - 1), child);
    EXPECT_EQ(d[1], "<11>00000001" + who +
                        "44\t(0xc, 2):\tCheck failed [open(path)].\tNo such file or directory\n");
    EXPECT_EQ(d[2], "<11>00000002" + who + "45\t(0x4, 0):\t100%s %n Value=-3\t\n");
    const std::vector<LogRecord> r = records();
    ASSERT_EQ(r.size(), 3u);
    EXPECT_EQ(std::tie(r[1].flags, r[1].error, r[1].message, r[1].error_text),
              std::make_tuple(0xcu, 2u, "Check failed [open(path)].", "No such file or directory"));
}

// --- configuration ---------------------------------------------------------------

TEST_F(LogOutputs, TheMaskIsReadLikeAtoi) {
    const std::pair<const char*, bool> cases[] = {
        {nullptr, false}, {"", false},   {"0", false},      {"abc", false},
        {"8", false},     {"16", false}, {" +3junk", true},
    };
    for (const auto& [mask, written] : cases) {
        SCOPED_TRACE(mask ? mask : "(unset)");
        fs::remove(m_log);
        Env e = env(mask ? mask : "");
        if (!mask) e.erase("SYSERRLOG");
        EXPECT_EQ(run(e, {"report", "x"}).out.empty(), !written);
        EXPECT_EQ(records().size(), written ? 1u : 0u);
    }
}

TEST_F(LogOutputs, ReceiverHostAndPortOnTheTestPort) {
    const std::string port = std::to_string(m_receiver.port());
    const std::pair<std::string, bool> cases[] = {
        {"::127.0.0.1:::" + port + ":ignored", true},  // runs of ':' and a third field
        {"localhost:" + port, true},                   // looked up by name
        {"127.0.0.1:" + port + "abc", true},           // leading digits only
        {"127.0.0.1:x" + port, false},                 // no digits: port 0
        {"127.0.0.1:" + std::to_string(m_receiver.port() + 65536), false},  // above 65535: 514
        {"127.0.0.1:" + port + ":" + std::string(250, 'x'), false},         // too long: never read
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        const auto& [value, delivered] = cases[i];
        SCOPED_TRACE(value);
        const std::string message = "case " + std::to_string(i);
        EXPECT_NE(run(env("9", value.c_str()), {"report", message}).out.find(message), npos);
        // Loopback delivery is done when sendto returns, so a short wait suffices.
        const std::vector<std::string> d = m_receiver.receive(100);
        ASSERT_EQ(d.size(), delivered ? 1u : 0u);
        EXPECT_TRUE(!delivered || d[0].find("\t" + message + "\t") != npos);
    }
}

// Port 514 is the default: these run in network and UTS namespaces of their own, where
// the child itself listens on 127.0.0.1:514 and prints what arrived. Its host name is
// longer than a 15-character cache would keep.
TEST_F(LogOutputs, ReceiverDefaultsToLocalhostPort514) {
    const std::pair<const char*, bool> cases[] = {
        {"127.0.0.1", true},             // no port field
        {"localhost", true},             // a name without a port
        {":::", true},                   // only colons: localhost and 514
        {"localhost:70000", true},       // above 65535
        {"localhost:4294967297", true},  // would wrap to port 1
        {":2130706433", true},           // digits after ':' are the host (127.0.0.1 as a number)
        {"localhost:515", false},
        {"", false},       // set but empty: no receiver
        {nullptr, false},  // unset: no receiver
    };
    const std::string host(64, 'h');
    for (const auto& [value, delivered] : cases) {
        SCOPED_TRACE(value ? value : "(unset)");
        const Child child =
            run_child(env("8", value), {"uts-hostname", host, "netns", "report", "hi", "drain"});
        if (child.status == CHILD_SKIPPED) GTEST_SKIP() << "no UTS or network namespace here";
        ASSERT_EQ(child.status, 0);
        EXPECT_EQ(child.out.rfind("<11>00000000\t" + host + "\tPID:", 0) == 0, delivered);
    }
}

// The host name has an empty label, so the resolver refuses it without asking a
// name server: tests send nothing beyond this machine.
TEST_F(LogOutputs, AnUnresolvableHostIsReportedOnceAndNothingIsSent) {
    const std::string value = "no..such-host:" + std::to_string(m_receiver.port());
    const Child child = run(env("11", value.c_str()), {"report", "first", "report", "second"});
    const std::vector<LogRecord> r = records();
    ASSERT_EQ(r.size(), 3u);
    // Made while the log started, inside the first report, with a number of its own.
    EXPECT_EQ(r[0].message, "Unknown host 'no..such-host'");
    EXPECT_NE(r[0].file.find("ipv4.cpp"), npos);
    EXPECT_EQ(r[1].message, "first");
    for (uint32_t i = 0; i < 3; ++i) EXPECT_EQ(r[i].sequence, i);
    EXPECT_NE(child.out.find(": Unknown host 'no..such-host'\n"), npos);
    // On Linux 0.0.0.0 means this host: the unresolved receiver must not get it.
    EXPECT_TRUE(m_receiver.receive(300).empty());
}

// --- bounds ----------------------------------------------------------------------

// 255 three-byte characters in the message and 127 two-byte ones in the path make a
// syslog line of more than 1100 bytes: it is cut to fit one datagram. The program
// runs from a folder deeper than 255 characters: its path is shown by its end.
TEST_F(LogOutputs, LongTextIsCutToWholeCharactersAndTheDatagramStillFits) {
    fs::path folder = m_dir.path();
    for (int i = 0; folder.string().size() < 300; ++i) folder /= "folder-" + std::to_string(i);
    fs::create_directories(folder);
    const std::string program = (folder / "syserrx_child").string();
    fs::copy_file(SYSERRX_CHILD, program);
    std::string euro, path = "/";
    for (int i = 0; i < 300; ++i) euro += "\xE2\x82\xAC";
    for (int i = 0; i < 130; ++i) path += "\xC3\xA9";
    const Child child = run(env("11", receiver().c_str()), {"file", path, "wide", euro}, program);
    const std::string message = euro.substr(0, 255 * 3), tail = path.substr(path.size() - 127 * 2);
    const std::vector<LogRecord> r = records();
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(std::tie(r[0].message, r[0].file), std::tie(message, tail));
    EXPECT_EQ(r[0].module, program.substr(program.size() - 255));
    EXPECT_NE(child.out.find(" " + tail + "@43: " + message + "\n"), npos);
    const std::vector<std::string> d = m_receiver.receive();
    ASSERT_EQ(d.size(), 1u);
    EXPECT_LE(d[0].size(), 1024u);
    EXPECT_GT(d[0].size(), 1000u);
    EXPECT_EQ(d[0].substr(d[0].size() - 4), "\xE2\x82\xAC\n") << "no split character";
}

// A character the locale has no bytes for becomes '?'; the record stays.
TEST_F(LogOutputs, TextTheLocaleCannotShowIsReplacedNotDropped) {
    const Child child = run(env("3"), {"locale", "C", "wide", "caf\xC3\xA9 \xE2\x82\xAC"});
    const std::vector<LogRecord> r = records();
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].message, "caf? ?");
    EXPECT_NE(child.out.find("@43: caf? ?\n"), npos) << child.out;
}

// --- the log file in a shared folder -----------------------------------------------

TEST_F(LogOutputs, TheFileIsPrivateAndWhatIsPlantedThereIsLeftAlone) {
    run(env("2"), {"report", "x"});
    struct stat st {};
    ASSERT_EQ(stat(m_log.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 077, 0u) << "a new log file is private to its owner";
    // Each plants something under the log's name and gives the file that must still
    // hold "keep" (none: the link's target must not be made).
    const std::string victim = m_dir.file("victim");
    const std::pair<const char*, std::function<std::string()>> plants[] = {
        {"a link",
         [&] {
             fs::create_symlink(victim, m_log);
             return victim;
         }},
        {"a dangling link",
         [&] {
             fs::remove(victim);
             fs::create_symlink(victim, m_log);
             return "";
         }},
        {"a FIFO", [&] { return mkfifo(m_log.c_str(), 0600) == 0 ? victim : "no FIFO"; }},
        {"a second name",
         [&] {
             fs::create_hard_link(victim, m_log);
             return victim;
         }},
        {"another user's file",
         [&] {
             fs::rename(victim, m_log);
             const bool theirs =
                 chmod(m_log.c_str(), 0644) == 0 && chown(m_log.c_str(), 65534, 65534) == 0;
             return theirs ? m_log : "not theirs";
         }},
    };
    for (const auto& [what, plant] : plants) {
        SCOPED_TRACE(what);
        fs::remove(m_log);
        write_file_bytes(victim, "keep");
        const std::string kept = plant();
        EXPECT_NE(run(env("3"), {"report", "still here"}).out.find("still here"), npos);
        EXPECT_TRUE(kept.empty() ? !fs::exists(victim) : read_file_bytes(kept) == "keep");
    }
}

// --- threads, nesting, exit --------------------------------------------------------

// The temp folder is the first one set, read once: a thread moving the environment
// meanwhile neither crashes a record nor moves the file; and reports stay safe while
// the process exits (a static object's destructor, a thread still reporting).
TEST_F(LogOutputs, SetenvMeanwhileAndReportsDuringExitAreSafe) {
    TempDir other("talvex-other"), later("talvex-later");
    std::vector<std::string> steps = {"report", "first", "setenv-thread", other.path().string()};
    for (int i = 0; i < 200; ++i) steps.insert(steps.end(), {"report", "during"});
    steps.insert(steps.end(), {"at-exit", "at exit", "exit-while-reporting"});
    run({{"SYSERRLOG", "2"}, {"TMPDIR", m_dir.path().string()}, {"TMP", later.path().string()}},
        steps);
    EXPECT_FALSE(fs::exists(other.file("syserrlog.txt")));
    EXPECT_FALSE(fs::exists(later.file("syserrlog.txt")));
    const std::vector<LogRecord> r = records();
    ASSERT_GE(r.size(), 202u);
    EXPECT_EQ(r[0].message, "first");
    EXPECT_EQ(r[200].message, "during");
    const bool at_exit = std::any_of(r.begin() + 201, r.end(),
                                     [](const LogRecord& x) { return x.message == "at exit"; });
    EXPECT_TRUE(at_exit) << "the static object's report is written";
}

TEST_F(LogOutputs, ManyThreadsWriteWholeLinesInNumberOrder) {
    constexpr int kThreads = 8, kEach = 150;
    const Child child = run(env("3"), {"threads", std::to_string(kThreads), std::to_string(kEach)});
    const std::string bytes = read_file_bytes(m_log);
    const std::vector<LogRecord> r = parse_log_lines(bytes);
    ASSERT_EQ(r.size(), static_cast<size_t>(kThreads * kEach));
    EXPECT_EQ(static_cast<size_t>(std::count(bytes.begin(), bytes.end(), '\n')), r.size());
    std::map<int, int> next_of_thread;
    std::map<int, std::string> tid_of_thread;
    std::string console;
    for (size_t i = 0; i < r.size(); ++i) {
        EXPECT_EQ(r[i].sequence, i);
        int thread = -1, record = -1, used = 0;
        ASSERT_EQ(sscanf(r[i].message.c_str(), "thread %d record %d%n", &thread, &record, &used),
                  2);
        ASSERT_EQ(static_cast<size_t>(used), r[i].message.size());
        EXPECT_EQ(record, next_of_thread[thread]++) << "a thread's own order";
        EXPECT_EQ(tid_of_thread.emplace(thread, r[i].tid).first->second, r[i].tid);
        console += r[i].pid + " " + r[i].tid + " /src/module.cpp@42: " + r[i].message + "\n";
    }
    EXPECT_EQ(next_of_thread.size(), static_cast<size_t>(kThreads));
    EXPECT_EQ(child.out, console) << "console lines in the order of the file lines";
}

TEST_F(LogOutputs, AFailingHostNameLookupReportsOnceNestedAndFallsBack) {
    run(env("10", receiver().c_str()), {"report", "first", "report", "second"},
        SYSERRX_CHILD_FAILING_HOSTNAME);
    const std::vector<LogRecord> r = records();
    ASSERT_EQ(r.size(), 4u);
    const std::vector<std::string> d = m_receiver.receive();
    ASSERT_EQ(d.size(), 4u);
    // Each lookup fails anew; its report is written whole before the record that asked.
    for (uint32_t i = 0; i < 4; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(r[i].sequence, i);
        EXPECT_EQ(d[i].rfind("<11>0000000" + std::to_string(i) + "\tUnknown computer\t", 0), 0u);
        if (i % 2) continue;
        EXPECT_EQ(std::tie(r[i].flags, r[i].error, r[i].message, r[i].error_text),
                  std::make_tuple(0xcu, 1u, "Check failed [GetComputerNameW(name, &name_size)].",
                                  "Operation not permitted"));
        EXPECT_NE(r[i].file.find("computername.cpp"), npos);
    }
    EXPECT_EQ(r[1].message, "first");
    EXPECT_EQ(r[3].message, "second");
}

}  // namespace
