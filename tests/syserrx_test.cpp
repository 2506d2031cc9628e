// The diagnostic log seen from outside: each case runs a program of its own and reads what
// the log wrote to standard output, to the file in a private folder, and to a UDP receiver.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <ctime>
#include <filesystem>
#include <numeric>
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

class LogOutputs : public testing::Test {
protected:
    TempDir m_dir{"talvex-syserrx"};
    UdpReceiver m_receiver;
    const std::string m_log = m_dir.file("syserrlog.txt"),
                      m_to = "SYSERRLOG_SYSLOG=127.0.0.1:" + std::to_string(m_receiver.port());
    int m_status = -1;  // the last child's exit status, -1 when it did not exit normally
    std::string m_id;   // its process id, also its main thread's
    time_t m_started = 0, m_ended = 0;

    std::vector<LogRecord> records() const { return parse_log_lines(read_file_bytes(m_log)); }
    // Each timestamp of the last child's run in `text` becomes "T"; any other stays.
    std::string check_timestamps(std::string text) const {
        for (time_t t = m_started; t <= m_ended; ++t) {
            char stamp[32];
            strftime(stamp, sizeof stamp, "%Y/%m/%d-%H:%M:%S UTC", gmtime(&t));
            for (size_t at; (at = text.find(stamp)) != text.npos;) text.replace(at, 23, "T");
        }
        return text;
    }
    // Gives what the program, its DIR_TMP the private folder, wrote to standard output.
    std::string run(std::vector<std::string> args, const std::string& program = SYSERRX_CHILD) {
        args.insert(args.begin(), {program, "DIR_TMP=" + m_dir.path().string()});
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        const std::string out = m_dir.file("out"), pid = m_dir.file("pid");
        m_started = time(nullptr);
        m_status = run_in_child([&] {
            write_file_bytes(pid, std::to_string(getpid()));
            dup2(open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), STDOUT_FILENO);
            execv(program.c_str(), argv.data());
            return 127;
        });
        m_ended = time(nullptr);
        m_id = read_file_bytes(pid);
        EXPECT_TRUE(m_status == 0 || m_status == CHILD_SKIPPED) << m_status;
        return read_file_bytes(out);
    }
};

// The complemented file has a line feed, the message's own included, as 0xF5 without CR.
// Only the first datagram has the timestamp. A platform error has kind 1 and the system's
// text; LogValue appends the value, and a '%' in its text is no format.
TEST_F(LogOutputs, EveryOutputsLinesByteForByte) {
    const std::string host = read_file_bytes("/proc/sys/kernel/hostname");
    run({"SYSERRLOG= +15junk", m_to, "report", "one\ntwo", "error", "open(path)", "value",
         "100%s %n"});  // the mask is read like atoi
    const std::string ids = "PID:" + m_id + "\tTID:" + m_id + "\t" +
                            fs::canonical(SYSERRX_CHILD).string(),
                      head = "\t" + ids + "\t/src/module.cpp\t",
                      from = "\t" + host.substr(0, host.size() - 1) + "\t" + ids +
                             "::/src/module.cpp@";
    std::string bytes = read_file_bytes(m_log);
    for (char& c : bytes) c = static_cast<char>(~c);
    EXPECT_EQ(check_timestamps(bytes),
              "00000000" + head + "42\t0x4\t0\tone\ntwo\t\tT\n00000001" + head +
                  "44\t0xc\t2\tCheck failed [open(path)].\tNo such file or directory\tT\n00000002" +
                  head + "45\t0x4\t0\t100%s %n Value=-3\t\tT\n");
    const std::vector<std::string> d = m_receiver.receive();
    EXPECT_EQ(
        check_timestamps(std::accumulate(d.begin(), d.end(), std::string())),
        "<11>00000000" + from + "42\t(0x4, 0):\tone\ntwo\t\tT\n<11>00000001" + from +
            "44\t(0xc, 2):\tCheck failed [open(path)].\tNo such file or directory\n<11>00000002" +
            from + "45\t(0x4, 0):\t100%s %n Value=-3\t\n");
}

// Without an output bit (or a receiver for the syslog bit) nothing is written. A name with
// an empty label is refused without asking a name server: the report, made while the log
// starts, is numbered first and made once; a console gone must not end it by SIGPIPE.
TEST_F(LogOutputs, WhatTheVariablesStartAndAnUnresolvableReceiver) {
    EXPECT_EQ(run({"SYSERRLOG=16", m_to, "report", "x"}) + run({"SYSERRLOG=", "report", "x"}) +
                  run({"SYSERRLOG=8", "report", "x"}) + run({"report", "x"}),
              "");
    EXPECT_FALSE(fs::exists(m_log));
    EXPECT_TRUE(m_receiver.receive(100).empty());
    run({"SYSERRLOG=11", "SYSERRLOG_SYSLOG=no..x", "hang-up", "report", "1", "report", "2"});
    const std::vector<LogRecord> r = records();
    ASSERT_EQ(r.size(), 3u);
    EXPECT_EQ(std::tie(r[0].sequence, r[0].message, r[1].sequence, r[1].message),
              std::make_tuple(0u, "Unknown host 'no..x'", 1u, "1"));
}

// In UTS and network namespaces of its own, the child listens on 127.0.0.1 at 514, the
// default port, and prints what arrived. Its host name is longer than a 15-character
// cache would keep.
TEST_F(LogOutputs, TheReceiverIsHostAndPortWithDefaults) {
    const std::pair<std::string, bool> cases[] = {
        {"127.0.0.1", true},                                // no port field
        {":::", true},                                      // only colons: localhost and 514
        {"::localhost:::514:ignored", true},                // runs of ':', a name, a third field
        {"127.0.0.1:514abc", true},                         // leading digits only
        {"localhost:70000", true},                          // above 65535: 514, not 4464
        {"localhost:4294967297", true},                     // would wrap to port 1
        {"127.0.0.1:x514", false},                          // no digits: port 0
        {"0.0.0.0", false},                                 // would reach this host
        {"127.0.0.1:514:" + std::string(250, 'x'), false},  // too long: never read
        {"", false},                                        // set but empty: no receiver
    };
    const std::string host(64, 'h');
    for (const auto& [value, delivered] : cases) {
        SCOPED_TRACE(value);
        const std::string out =
            run({"SYSERRLOG=8", "SYSERRLOG_SYSLOG=" + value, "host", host, "report", "hi"});
        if (m_status == CHILD_SKIPPED) GTEST_SKIP() << "no UTS or network namespace here";
        EXPECT_EQ(out.find("\t" + host + "\tPID:") != std::string::npos, delivered);
    }
}

// The program runs from a folder deeper than 255 characters (its path is shown by its end)
// and its host name lookup always fails: each failure is reported whole, numbered, before
// the record that asked, whose datagram names an unknown computer. 255 three-byte
// characters in the message and 127 two-byte ones in the path make a syslog line of over
// 1100 bytes, cut to whole characters. What the locale cannot show becomes '?'.
TEST_F(LogOutputs, LongTextIsCutToWholeCharactersAndAFailingHostNameFallsBack) {
    const std::string program = (m_dir.path() / std::string(255, 'f') / "syserrx_child").string();
    fs::create_directory(fs::path(program).parent_path());
    fs::copy_file(SYSERRX_CHILD_FAILING_HOSTNAME, program);
    std::string euro, path = "/";
    for (int i = 0; i < 300; ++i) euro += "\xE2\x82\xAC";
    for (int i = 0; i < 130; ++i) path += "\xC3\xA9";
    run({"SYSERRLOG=10", m_to, "wide", path, euro, "locale", "C", "wide", "/",
         "caf\xC3\xA9 \xE2\x82\xAC"},
        program);
    const std::vector<LogRecord> r = records();
    const std::vector<std::string> d = m_receiver.receive();
    ASSERT_EQ(std::make_pair(r.size(), d.size()), std::make_pair(size_t{4}, size_t{4}));
    for (uint32_t i = 0; i < 4; ++i) {
        EXPECT_EQ(d[i].rfind("<11>0000000" + std::to_string(i) + "\tUnknown computer\t", 0), 0u);
        EXPECT_EQ(std::tie(r[i].sequence, r[i].error_text),
                  std::make_tuple(i, i % 2 ? "" : "Operation not permitted"));
    }
    EXPECT_EQ(std::tie(r[0].message, r[1].message, r[1].file, r[1].module, r[3].message),
              std::make_tuple("Check failed [GetComputerNameW(name, &name_size)].",
                              euro.substr(0, 255 * 3), path.substr(path.size() - 127 * 2),
                              program.substr(program.size() - 255), "caf? ?"));
    EXPECT_TRUE(d[1].size() > 1000 && d[1].size() <= 1024) << d[1].size();
    EXPECT_TRUE(d[1].ends_with("\xE2\x82\xAC\n")) << "no split character";
}

// A line feed, the message's own included, ends with CR LF. Of what is planted under the
// file's name in a shared folder, the file that must still hold "keep" does.
TEST_F(LogOutputs, TheFileIsPrivateAndWhatIsPlantedThereIsLeftAlone) {
    run({"SYSERRLOG=2", "report", "x\ny"});
    EXPECT_NE(read_file_bytes(m_log).find("\tx\r\ny\t\t"), std::string::npos);
    EXPECT_EQ(fs::status(m_log).permissions() & (fs::perms::group_all | fs::perms::others_all),
              fs::perms::none);
    const std::string victim = m_dir.file("victim");
    for (const std::string plant : {"symlink", "FIFO", "hard link", "theirs"}) {
        SCOPED_TRACE(plant);
        fs::remove(m_log);
        write_file_bytes(plant == "theirs" ? m_log : victim, "keep");
        if (plant == "symlink") fs::create_symlink(victim, m_log);
        ASSERT_TRUE(plant != "FIFO" || mkfifo(m_log.c_str(), 0600) == 0);
        if (plant == "hard link") fs::create_hard_link(victim, m_log);
        ASSERT_TRUE(plant != "theirs" || chown(m_log.c_str(), 65534, 65534) == 0);
        EXPECT_TRUE(run({"SYSERRLOG=3", "report", "still here"}).ends_with("still here\n"));
        EXPECT_EQ(read_file_bytes(plant == "theirs" ? m_log : victim), "keep");
    }
}

// The temp folder, moved after the first report, is read once.
TEST_F(LogOutputs, ThreadsWriteWholeLinesInNumberOrderAndExitStillReports) {
    TempDir other("talvex-other");
    const std::string out =
        run({"SYSERRLOG=3", "report", "first", "DIR_TMP=" + other.path().string(), "threads",
             "exit-reporting", "at exit"});
    EXPECT_FALSE(fs::exists(other.file("syserrlog.txt")));
    EXPECT_NE(read_file_bytes(m_log).find("\tat exit\t"), std::string::npos);
    const std::vector<LogRecord> r = records();
    ASSERT_GT(r.size(), 1201u);
    std::set<std::string> tids, messages;
    std::string console;
    for (size_t i = 0; i <= 1200; ++i) {
        console += r[i].pid + " " + r[i].tid + " /src/module.cpp@42: " + r[i].message + "\n";
        EXPECT_EQ(r[i].sequence, i);
        tids.insert(r[i].tid);
        if (r[i].message.starts_with("thread ")) messages.insert(r[i].message);
    }
    EXPECT_EQ(tids.size(), 9u) << "a thread id per thread";
    EXPECT_EQ(messages.size(), 1200u) << "each thread's every record, whole";
    EXPECT_EQ(out.substr(0, console.size()), console) << "console lines in the file's order";
}

// Reached only by calling directly: no host, the broadcast address (the dotted form's
// failure value, so looked up), and datagrams at the size limit. An unresolved receiver
// (0.0.0.0 would reach this host on Linux) or port gets nothing.
TEST(SyslogSink, DatagramIsPriorityThenTextOfAtMost1020Bytes) {
    EXPECT_EQ(ipv4_resolve(nullptr) | ipv4_resolve(""), 0u);
    EXPECT_EQ(ipv4_resolve("255.255.255.255"), 0xFFFFFFFFu);
    UdpReceiver receiver;
    Syslog sink("localhost", receiver.port());
    const std::string fits(1020, 'x');
    EXPECT_TRUE(sink.send(L"caf\u00e9", 0, 23) && sink.send_text(fits.c_str(), 3, 1));
    EXPECT_FALSE(sink.send_text(std::string(1021, 'y').c_str(), 3, 1) ||
                 sink.send(std::wstring(2000, L'z').c_str(), 3, 1) ||
                 sink.send(L"bad \xDC00 surrogate", 3, 1) || sink.send(nullptr, 3, 1) ||
                 sink.send_text(nullptr, 3, 1) ||
                 Syslog("no..such-host", receiver.port()).send_text("lost", 3, 1) ||
                 Syslog("127.0.0.1", 70000).send_text("lost", 3, 1));
    EXPECT_EQ(receiver.receive(), (std::vector<std::string>{"<184>caf\xC3\xA9", "<11>" + fits}));
}

}  // namespace
