// One copy per machine: real processes started from a small probe program, under
// the same and under another user, at the same moment, and killed outright.
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <stddef.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <clocale>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "code/single_application_instance.h"
#include "tests/support/log_capture.h"
#include "tests/support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using Instance = SingleApplicationInstance;

constexpr uid_t NOBODY = 65534;
constexpr gid_t NOGROUP = 65534;
constexpr int ANSWER_TIMEOUT_MS = 30000;

// A name no other test process, and no real copy of the tool, is using.
std::string unique_name(const std::string& what) {
    static int counter = 0;
    return "Global\\talvex-test " + what + " " + std::to_string(getpid()) + "-" +
           std::to_string(++counter);
}

std::wstring wide(const std::string& text) { return std::wstring(text.begin(), text.end()); }

// Binds (or connects to) `name` in the abstract namespace with the tool's socket type:
// 0, or the errno of the call.
int try_address(const std::string& name, bool connect_to_it) {
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return errno;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path + 1, name.data(), name.size());
    const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
    const auto* raw = reinterpret_cast<const sockaddr*>(&address);
    const int rc =
        (connect_to_it ? connect(fd, raw, length) : bind(fd, raw, length)) == 0 ? 0 : errno;
    close(fd);
    return rc;
}
int try_bind(const std::string& name) { return try_address(name, false); }
int try_connect(const std::string& name) { return try_address(name, true); }

// Releases whatever the test process registered, however the test ends.
struct ReleaseAtEnd {
    ~ReleaseAtEnd() { Instance::ReleaseApplicationInstance(); }
};

class Child {
public:
    // Starts `argv` with pipes on its stdin and stdout; with `as_nobody` it runs as
    // nobody:nogroup without supplementary groups.
    Child(const std::vector<std::string>& argv, bool as_nobody = false) {
        int in[2], out[2], exec_error[2];
        if (pipe2(in, O_CLOEXEC) || pipe2(out, O_CLOEXEC) || pipe2(exec_error, O_CLOEXEC)) return;
        std::vector<char*> args;
        for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
        args.push_back(nullptr);
        m_pid = fork();
        if (m_pid == 0) {
            dup2(in[0], STDIN_FILENO);
            dup2(out[1], STDOUT_FILENO);
            if (!as_nobody ||
                (setgroups(0, nullptr) == 0 && setgid(NOGROUP) == 0 && setuid(NOBODY) == 0))
                execv(args[0], args.data());
            const int error = errno;
            (void)!write(exec_error[1], &error, sizeof error);
            _exit(127);
        }
        close(in[0]);
        close(out[1]);
        close(exec_error[1]);
        m_in = in[1];
        m_out = out[0];
        // The pipe closes on a successful exec; before that the child may still share
        // whatever the parent holds.
        int error = 0;
        if (m_pid > 0 && read(exec_error[0], &error, sizeof error) == sizeof error)
            m_exec_error = error;
        close(exec_error[0]);
    }

    ~Child() {
        close_stdin();
        if (m_out >= 0) close(m_out);
        if (m_pid > 0 && !m_reaped) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
        }
    }

    bool started() const { return m_pid > 0 && m_exec_error == 0; }
    int exec_error() const { return m_exec_error; }

    void send_go() { (void)!write(m_in, "g", 1); }
    void close_stdin() {
        if (m_in >= 0) close(m_in);
        m_in = -1;
    }

    // One line of output without its newline; nullopt on timeout or end of output.
    std::optional<std::string> read_line() {
        std::string line;
        for (;;) {
            pollfd ready{m_out, POLLIN, 0};
            if (poll(&ready, 1, ANSWER_TIMEOUT_MS) != 1) return std::nullopt;
            char c;
            if (read(m_out, &c, 1) != 1) return std::nullopt;
            if (c == '\n') return line;
            line += c;
        }
    }

    // The exit code, or -1 when it did not exit normally.
    int wait() {
        close_stdin();
        int status = 0;
        if (m_pid <= 0 || waitpid(m_pid, &status, 0) != m_pid) return -1;
        m_reaped = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    void kill_outright() {
        kill(m_pid, SIGKILL);
        waitpid(m_pid, nullptr, 0);
        m_reaped = true;
    }

private:
    pid_t m_pid = -1;
    int m_in = -1, m_out = -1;
    int m_exec_error = 0;
    bool m_reaped = false;
};

class InstanceProbes : public testing::Test {
protected:
    void SetUp() override {
        // A copy that dies early must fail the test, not end it through its closed stdin.
        signal(SIGPIPE, SIG_IGN);
        // A copy every user can execute, wherever the build tree lives.
        fs::permissions(m_dir.path(), fs::perms::owner_all | fs::perms::group_read |
                                          fs::perms::group_exec | fs::perms::others_read |
                                          fs::perms::others_exec);
        m_probe = m_dir.file("single_instance_probe");
        fs::copy_file(SINGLE_INSTANCE_PROBE, m_probe);
    }

    std::vector<std::string> probe_args(const std::string& name,
                                        std::initializer_list<const char*> flags = {}) {
        std::vector<std::string> args{m_probe, name};
        args.insert(args.end(), flags.begin(), flags.end());
        return args;
    }

    // Starts a probe that answers once and ends: its exit code (0 only, 1 not only).
    int ask(const std::string& name, bool as_nobody = false) {
        Child probe(probe_args(name), as_nobody);
        EXPECT_TRUE(probe.started()) << std::strerror(probe.exec_error());
        return probe.wait();
    }

    static void skip_unless_root() {
        if (geteuid() != 0) GTEST_SKIP() << "starting a copy as another user needs root";
    }

    TempDir m_dir{"talvex-instance"};
    std::string m_probe;
    ReleaseAtEnd m_release;
};

TEST(SingleApplicationInstance, RegistrationRules) {
    ReleaseAtEnd release;
    LogCapture log;
    EXPECT_FALSE(Instance::RegisterApplicationInstance(L"", true));
    EXPECT_FALSE(Instance::RegisterApplicationInstance(nullptr, true));
    EXPECT_FALSE(Instance::IsOnlyApplicationInstance()) << "nothing registered";
    Instance::ReleaseApplicationInstance();

    const std::string name = unique_name("rules");
    EXPECT_TRUE(Instance::RegisterApplicationInstance(wide(name).c_str(), false));
    EXPECT_FALSE(Instance::RegisterApplicationInstance(wide(name + "2").c_str(), false))
        << "one registration per process";
    EXPECT_TRUE(Instance::IsOnlyApplicationInstance());
    EXPECT_EQ(try_bind(name), EADDRINUSE);
    EXPECT_EQ(try_connect(name), ECONNREFUSED) << "nobody can talk to the holder";

    Instance::ReleaseApplicationInstance();
    Instance::ReleaseApplicationInstance();
    EXPECT_FALSE(Instance::IsOnlyApplicationInstance());
    EXPECT_EQ(try_bind(name), 0) << "released with the registration";
    EXPECT_TRUE(log.messages().empty());
}

TEST(SingleApplicationInstance, MakeGlobalPutsGlobalInFrontOnlyWhenMissing) {
    ReleaseAtEnd release;
    const std::string bare = "talvex-test bare " + std::to_string(getpid());
    ASSERT_TRUE(Instance::RegisterApplicationInstance(wide(bare).c_str(), true));
    EXPECT_EQ(try_bind("Global\\" + bare), EADDRINUSE);
    EXPECT_EQ(try_bind(bare), 0);
    Instance::ReleaseApplicationInstance();

    const std::string prefixed = unique_name("prefixed");
    ASSERT_TRUE(Instance::RegisterApplicationInstance(wide(prefixed).c_str(), true));
    EXPECT_EQ(try_bind(prefixed), EADDRINUSE);
    EXPECT_EQ(try_bind("Global\\" + prefixed), 0);
    Instance::ReleaseApplicationInstance();

    ASSERT_TRUE(Instance::RegisterApplicationInstance(wide(bare).c_str(), false));
    EXPECT_EQ(try_bind(bare), EADDRINUSE) << "used as it stands without make global";
}

TEST(SingleApplicationInstance, NamesAreUtf8WhateverTheLocale) {
    ReleaseAtEnd release;
    const std::string base = unique_name("utf8");
    const std::wstring suffix = L" caf\u00e9 \u20ac \U0001F4DE";
    // The "C" locale cannot encode these characters; copies under any locale must agree.
    const std::string old_locale = std::setlocale(LC_ALL, nullptr);
    std::setlocale(LC_ALL, "C");
    const bool registered =
        Instance::RegisterApplicationInstance((wide(base) + suffix).c_str(), false);
    std::setlocale(LC_ALL, old_locale.c_str());
    ASSERT_TRUE(registered);
    EXPECT_EQ(try_bind(base + " caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x93\x9E"), EADDRINUSE);
}

TEST_F(InstanceProbes, ASecondCopyIsRefusedWhileTheFirstRuns) {
    const std::string name = unique_name("second");
    ASSERT_TRUE(Instance::RegisterApplicationInstance(wide(name).c_str(), false));
    ASSERT_TRUE(Instance::IsOnlyApplicationInstance());
    EXPECT_EQ(ask(name), 1);
    Instance::ReleaseApplicationInstance();
    EXPECT_EQ(ask(name), 0) << "after the first copy ended";

    Child holder(probe_args(name, {"hold"}));
    ASSERT_EQ(holder.read_line(), "true");
    ASSERT_TRUE(Instance::RegisterApplicationInstance(wide(name).c_str(), false));
    EXPECT_FALSE(Instance::IsOnlyApplicationInstance());
    EXPECT_EQ(holder.wait(), 0);
}

TEST_F(InstanceProbes, ACopyOfAnotherUserIsRefusedAndRefusesToo) {
    skip_unless_root();
    const std::string name = unique_name("users");
    ASSERT_TRUE(Instance::RegisterApplicationInstance(wide(name).c_str(), false));
    EXPECT_EQ(ask(name, true), 1) << "nobody, while root's copy runs";
    Instance::ReleaseApplicationInstance();

    Child holder(probe_args(name, {"hold"}), true);
    ASSERT_EQ(holder.read_line(), "true");
    EXPECT_EQ(ask(name), 1) << "root, while nobody's copy runs";
    EXPECT_EQ(holder.wait(), 0);
    EXPECT_EQ(ask(name, true), 0);
}

TEST_F(InstanceProbes, OfTwentyCopiesStartedAtOnceExactlyOneRuns) {
    const bool mixed_users = geteuid() == 0;
    for (int round = 0; round < 3; ++round) {
        const std::string name = unique_name("burst");
        std::vector<std::unique_ptr<Child>> copies;
        for (int i = 0; i < 20; ++i) {
            copies.push_back(std::make_unique<Child>(probe_args(name, {"go", "hold"}),
                                                     mixed_users && i % 2 == 1));
            ASSERT_TRUE(copies.back()->started());
        }
        for (auto& copy : copies) copy->send_go();
        int only = 0;
        for (auto& copy : copies) {
            const auto answer = copy->read_line();
            ASSERT_TRUE(answer == "true" || answer == "false") << answer.value_or("(none)");
            only += answer == "true";
        }
        EXPECT_EQ(only, 1) << "round " << round;
        for (auto& copy : copies) EXPECT_LE(copy->wait(), 1);
    }
}

TEST_F(InstanceProbes, ACopyKilledOutrightLeavesNothingBehind) {
    const std::string name = unique_name("killed");
    Child holder(probe_args(name, {"hold"}));
    ASSERT_EQ(holder.read_line(), "true");
    EXPECT_EQ(ask(name), 1);
    holder.kill_outright();
    EXPECT_EQ(ask(name), 0);
}

TEST_F(InstanceProbes, ProgramsStartedByTheToolDoNotKeepTheNameTaken) {
    const std::string name = unique_name("inherit");
    ASSERT_TRUE(Instance::RegisterApplicationInstance(wide(name).c_str(), false));
    Child started_by_tool({"/bin/cat"});
    ASSERT_TRUE(started_by_tool.started());
    Instance::ReleaseApplicationInstance();
    EXPECT_EQ(ask(name), 0) << "the child still runs but holds nothing";
    EXPECT_EQ(started_by_tool.wait(), 0);
}

TEST_F(InstanceProbes, ACopyThatCannotTakeTheNameRunsUnguarded) {
    const std::string name = unique_name("unguarded");
    ASSERT_TRUE(Instance::RegisterApplicationInstance(wide(name).c_str(), false));
    Child starved(probe_args(name, {"nofile"}));
    EXPECT_EQ(starved.read_line(), "true") << "no socket left: not another holder";
    EXPECT_EQ(starved.wait(), 0);
}

TEST_F(InstanceProbes, LongNamesDifferingPastTheAddressLimitStayApart) {
    // 107 bytes fit an abstract address whole; longer names are mapped.
    const std::string base = unique_name("long");
    const std::string fits = base + std::string(107 - base.size(), 'f');
    const std::string longer = fits + "g";
    const std::string a = base + std::string(300, 'x') + "A";
    const std::string b = base + std::string(300, 'x') + "B";

    ASSERT_TRUE(Instance::RegisterApplicationInstance(wide(fits).c_str(), false));
    EXPECT_EQ(ask(fits), 1);
    EXPECT_EQ(ask(longer), 0);
    Instance::ReleaseApplicationInstance();

    ASSERT_TRUE(Instance::RegisterApplicationInstance(wide(a).c_str(), false));
    EXPECT_EQ(ask(a), 1);
    EXPECT_EQ(ask(b), 0);
    EXPECT_EQ(ask(a.substr(0, 107)), 0) << "no cut to the first 107 bytes";
}

}  // namespace
