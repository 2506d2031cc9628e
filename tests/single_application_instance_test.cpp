// One copy per machine: real processes started from a small probe program, under
// the same and under another user, at the same moment, and killed outright.
#include <fcntl.h>
#include <gtest/gtest.h>
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
#include <optional>
#include <string>
#include <vector>

#include "code/single_application_instance.h"
#include "tests/support/child_process.h"
#include "tests/support/log_capture.h"
#include "tests/support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using Instance = SingleApplicationInstance;

// A name no other test process, and no real copy of the tool, is using.
std::string unique_name(const std::string& what) {
    static int counter = 0;
    return "Global\\talvex-test " + what + " " + std::to_string(getpid()) + "-" +
           std::to_string(++counter);
}

std::wstring wide(const std::string& text) { return std::wstring(text.begin(), text.end()); }

bool register_as(const std::string& name) {
    return Instance::RegisterApplicationInstance(wide(name).c_str(), false);
}

// Binds (or connects to) `name` in the abstract namespace with the tool's socket type:
// 0, or the errno of the call.
int try_address(const std::string& name, bool connect_to_it = false) {
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{AF_UNIX, {}};
    std::memcpy(address.sun_path + 1, name.data(), name.size());
    const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
    const auto* raw = reinterpret_cast<const sockaddr*>(&address);
    const int rc =
        (connect_to_it ? connect(fd, raw, length) : bind(fd, raw, length)) == 0 ? 0 : errno;
    close(fd);
    return rc;
}

// A program whose stdin and stdout are one socket: bytes go in, lines come out (30 s at
// most for each), and shutting the socket down for writing ends its stdin.
class Child {
public:
    explicit Child(const std::vector<std::string>& argv, bool as_nobody = false) {
        int ends[2], exec_done[2];
        if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0 ||
            pipe2(exec_done, O_CLOEXEC) != 0)
            return;
        m_pid = fork();
        if (m_pid == 0) {
            std::vector<char*> args;
            for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
            args.push_back(nullptr);
            dup2(ends[1], STDIN_FILENO);
            dup2(ends[1], STDOUT_FILENO);
            if (!as_nobody || become_nobody()) execv(args[0], args.data());
            _exit(127);
        }
        close(ends[1]);
        m_socket = ends[0];
        // Until its exec the child shares what this process holds; the pipe ends there.
        close(exec_done[1]);
        (void)!read(exec_done[0], ends, 1);
        close(exec_done[0]);
        const timeval answer_timeout{30, 0};
        setsockopt(m_socket, SOL_SOCKET, SO_RCVTIMEO, &answer_timeout, sizeof answer_timeout);
    }
    ~Child() {
        kill_outright();
        close(m_socket);
    }

    void go() { (void)!send(m_socket, "g", 1, MSG_NOSIGNAL); }

    // One line of output without its newline; nullopt on timeout or end of output.
    std::optional<std::string> read_line() {
        std::string line;
        for (char c; recv(m_socket, &c, 1, 0) == 1; line += c)
            if (c == '\n') return line;
        return std::nullopt;
    }

    // Ends its stdin and waits: the exit code, or -1 when it did not exit normally.
    int wait() {
        shutdown(m_socket, SHUT_WR);
        int status = 0;
        if (m_pid <= 0 || waitpid(m_pid, &status, 0) != m_pid) return -1;
        m_pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    void kill_outright() {
        if (m_pid > 0) kill(m_pid, SIGKILL);
        wait();
    }

private:
    pid_t m_pid = -1;
    int m_socket = -1;
};

class InstanceProbes : public testing::Test {
protected:
    void SetUp() override {
        // A copy every user can execute, wherever the build tree lives.
        fs::permissions(m_dir.path(),
                        fs::perms::all & ~fs::perms::group_write & ~fs::perms::others_write);
        fs::copy_file(SINGLE_INSTANCE_PROBE, m_probe);
    }
    void TearDown() override { Instance::ReleaseApplicationInstance(); }

    // A probe that holds the name (when it can) until it is waited for or killed.
    std::unique_ptr<Child> start(const std::string& name, bool as_nobody = false) {
        return std::make_unique<Child>(std::vector{m_probe, name}, as_nobody);
    }
    // A probe that answers once and ends: its exit code (0 only, 1 not only).
    int ask(const std::string& name, bool as_nobody = false) {
        return start(name, as_nobody)->wait();
    }

    TempDir m_dir{"talvex-instance"};
    std::string m_probe = m_dir.file("single_instance_probe");
};

TEST_F(InstanceProbes, RegistrationRules) {
    LogCapture log;
    EXPECT_FALSE(Instance::RegisterApplicationInstance(L"", true));
    EXPECT_FALSE(Instance::RegisterApplicationInstance(nullptr, true));
    EXPECT_FALSE(Instance::IsOnlyApplicationInstance()) << "nothing registered";
    Instance::ReleaseApplicationInstance();

    const std::string name = unique_name("rules");
    EXPECT_TRUE(register_as(name));
    EXPECT_FALSE(register_as(name + "2")) << "one registration per process";
    EXPECT_TRUE(Instance::IsOnlyApplicationInstance());
    EXPECT_EQ(try_address(name), EADDRINUSE);
    EXPECT_EQ(try_address(name, true), ECONNREFUSED) << "nobody can talk to the holder";
    Child started_by_tool({"/bin/cat"});
    Instance::ReleaseApplicationInstance();
    Instance::ReleaseApplicationInstance();
    EXPECT_FALSE(Instance::IsOnlyApplicationInstance());
    EXPECT_EQ(try_address(name), 0) << "a program the tool started keeps nothing";
    EXPECT_EQ(started_by_tool.wait(), 0);
    EXPECT_TRUE(log.messages().empty());
}

// Make global puts "Global\" in front only when missing; names are UTF-8 whatever the
// locale (the "C" locale cannot encode the last one's characters).
TEST(SingleApplicationInstance, TheNameTakenForEachName) {
    const std::string bare = "talvex-test bare " + std::to_string(getpid());
    const std::string prefixed = unique_name("prefixed"), utf8 = unique_name("utf8");
    const struct {
        std::wstring name;
        bool make_global;
        std::string taken, free;
    } cases[] = {
        {wide(bare), true, "Global\\" + bare, bare},
        {wide(prefixed), true, prefixed, "Global\\" + prefixed},
        {wide(bare), false, bare, "Global\\" + bare},
        {wide(utf8) + L" caf\u00e9 \u20ac \U0001F4DE", false,
         utf8 + " caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x93\x9E", utf8},
    };
    const std::string old_locale = std::setlocale(LC_ALL, nullptr);
    std::setlocale(LC_ALL, "C");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.taken);
        EXPECT_TRUE(Instance::RegisterApplicationInstance(c.name.c_str(), c.make_global));
        EXPECT_EQ(try_address(c.taken), EADDRINUSE);
        EXPECT_EQ(try_address(c.free), 0);
        Instance::ReleaseApplicationInstance();
    }
    std::setlocale(LC_ALL, old_locale.c_str());
}

TEST_F(InstanceProbes, ASecondCopyIsRefusedWhileTheFirstRunsAndNotAfterItEnded) {
    const std::string name = unique_name("second");
    ASSERT_TRUE(register_as(name));
    ASSERT_TRUE(Instance::IsOnlyApplicationInstance());
    EXPECT_EQ(ask(name), 1);
    Child starved({m_probe, name, "nofile"});
    starved.go();
    EXPECT_EQ(starved.read_line(), "true") << "a copy that cannot take the name runs unguarded";
    EXPECT_EQ(starved.wait(), 0);
    Instance::ReleaseApplicationInstance();
    EXPECT_EQ(ask(name), 0) << "after the first copy ended";

    auto holder = start(name);
    holder->go();
    ASSERT_EQ(holder->read_line(), "true");
    ASSERT_TRUE(register_as(name));
    EXPECT_FALSE(Instance::IsOnlyApplicationInstance());
    Instance::ReleaseApplicationInstance();
    holder->kill_outright();
    EXPECT_EQ(ask(name), 0) << "a copy killed outright leaves nothing behind";
}

TEST_F(InstanceProbes, ACopyOfAnotherUserIsRefusedAndRefusesToo) {
    if (geteuid() != 0) GTEST_SKIP() << "starting a copy as another user needs root";
    const std::string name = unique_name("users");
    ASSERT_TRUE(register_as(name));
    EXPECT_EQ(ask(name, true), 1) << "nobody, while root's copy runs";
    Instance::ReleaseApplicationInstance();

    auto holder = start(name, true);
    holder->go();
    ASSERT_EQ(holder->read_line(), "true");
    EXPECT_EQ(ask(name), 1) << "root, while nobody's copy runs";
    EXPECT_EQ(holder->wait(), 0);
    EXPECT_EQ(ask(name, true), 0);
}

TEST_F(InstanceProbes, OfTwentyCopiesStartedAtOnceExactlyOneRuns) {
    for (int round = 0; round < 3; ++round) {
        const std::string name = unique_name("burst");
        std::vector<std::unique_ptr<Child>> copies;
        for (int i = 0; i < 20; ++i) copies.push_back(start(name, geteuid() == 0 && i % 2));
        for (auto& copy : copies) copy->go();
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

TEST_F(InstanceProbes, LongNamesDifferingPastTheAddressLimitStayApart) {
    // 107 bytes fit an abstract address whole; longer names are mapped.
    const std::string base = unique_name("long");
    const std::string fits = base + std::string(107 - base.size(), 'f');
    const std::string a = base + std::string(300, 'x') + "A";
    ASSERT_TRUE(register_as(fits));
    EXPECT_EQ(ask(fits), 1);
    EXPECT_EQ(ask(fits + "g"), 0);
    Instance::ReleaseApplicationInstance();

    ASSERT_TRUE(register_as(a));
    EXPECT_EQ(ask(a), 1);
    EXPECT_EQ(ask(a.substr(0, a.size() - 1) + "B"), 0);
    EXPECT_EQ(ask(a.substr(0, 107)), 0) << "no cut to the first 107 bytes";
}

}  // namespace
