// One copy per machine: forked children ask for the name as another copy of the tool
// would, under the same and under another user, at the same moment, and killed outright.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <stddef.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <clocale>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "code/single_application_instance.h"
#include "code/syserrx.h"
#include "tests/support/child_process.h"
#include "tests/support/log_capture.h"

namespace {

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

// In a forked child, which first drops what it inherited as a fresh copy of the tool
// would not have it: registers `name` and answers IsOnlyApplicationInstance.
bool only_copy(const std::string& name) {
    Instance::ReleaseApplicationInstance();
    return register_as(name) && Instance::IsOnlyApplicationInstance();
}

// Another copy's answer: 0 when it is the only one, 1 when not.
int ask(const std::string& name, bool as_nobody = false) {
    return run_in_child([&] {
        if (as_nobody && !become_nobody()) return CHILD_SKIPPED;
        return only_copy(name) ? 0 : 1;
    });
}

// A copy that holds the name in a forked child until it is destroyed; it asks for the
// name once let go, so that many copies can start at one moment.
class Copy {
public:
    explicit Copy(const std::string& name, bool as_nobody = false) {
        if (pipe(m_go) != 0 || pipe(m_answer) != 0) return;
        m_thread = std::thread([this, name, as_nobody] {
            run_in_child([&] {
                char byte = 0, answer = 'x';
                if (read(m_go[0], &byte, 1) != 1 || byte != 'g') return 1;
                if (!as_nobody || become_nobody()) answer = only_copy(name) ? 't' : 'f';
                (void)!write(m_answer[1], &answer, 1);
                (void)!read(m_go[0], &byte, 1);  // holds the name until told to end
                return 0;
            });
        });
    }
    ~Copy() {
        (void)!write(m_go[1], "e", 1);
        if (m_thread.joinable()) m_thread.join();
        for (int fd : {m_go[0], m_go[1], m_answer[0], m_answer[1]}) close(fd);
    }
    void go() { (void)!write(m_go[1], "g", 1); }
    // 't' when it is the only copy, 'f' when not, 'x' when it could not ask (30 s at most).
    char answer() {
        pollfd ready{m_answer[0], POLLIN, 0};
        char answer = 'x';
        if (poll(&ready, 1, 30000) == 1) (void)!read(m_answer[0], &answer, 1);
        return answer;
    }

private:
    int m_go[2] = {-1, -1}, m_answer[2] = {-1, -1};
    std::thread m_thread;
};

class InstanceCopies : public testing::Test {
protected:
    void TearDown() override { Instance::ReleaseApplicationInstance(); }
};

TEST_F(InstanceCopies, RegistrationRules) {
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
    FILE* started_by_tool = popen("cat", "w");
    ASSERT_NE(started_by_tool, nullptr);
    Instance::ReleaseApplicationInstance();
    Instance::ReleaseApplicationInstance();
    EXPECT_FALSE(Instance::IsOnlyApplicationInstance());
    EXPECT_EQ(try_address(name), 0) << "a program the tool started keeps nothing";
    EXPECT_EQ(pclose(started_by_tool), 0);
    EXPECT_TRUE(log.messages().empty());
}

// Make global puts "Global\" in front only when missing; names are UTF-8 whatever the
// locale (the "C" locale cannot encode the last one's characters). 107 bytes fit an
// abstract address whole; longer names are mapped, never cut.
TEST_F(InstanceCopies, TheNameTakenForEachName) {
    const std::string bare = "talvex-test bare " + std::to_string(getpid());
    const std::string prefixed = unique_name("prefixed"), utf8 = unique_name("utf8");
    const std::string base = unique_name("long");
    const std::string fits = base + std::string(107 - base.size(), 'f');
    const std::string longer = base + std::string(300, 'x') + "A";
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

    ASSERT_TRUE(register_as(fits));
    EXPECT_EQ(ask(fits), 1);
    EXPECT_EQ(ask(fits + "g"), 0);
    Instance::ReleaseApplicationInstance();
    ASSERT_TRUE(register_as(longer));
    EXPECT_EQ(ask(longer), 1);
    EXPECT_EQ(ask(longer.substr(0, longer.size() - 1) + "B"), 0);
    EXPECT_EQ(ask(longer.substr(0, 107)), 0) << "no cut to the first 107 bytes";
}

TEST_F(InstanceCopies, ASecondCopyIsRefusedWhileTheFirstRunsAndNotAfterItEnded) {
    const std::string name = unique_name("second");
    ASSERT_TRUE(register_as(name));
    EXPECT_EQ(ask(name), 1);
    // The starved copy reports its failure; the log is set up here first, because
    // UBSan's first look at an object's type needs a descriptor the child lacks.
    syserr_report(SYSERR_FILE, __LINE__, 4, L"%ls", L"the log is ready before the copies start");
    const int starved = run_in_child([&] {
        // No further file descriptor may be opened, so no name can be taken; only the
        // soft limit drops, so that the child can write out what it did when it ends.
        rlimit files{};
        if (getrlimit(RLIMIT_NOFILE, &files) != 0) return CHILD_SKIPPED;
        const rlimit only_standard_streams{3, files.rlim_max};
        Instance::ReleaseApplicationInstance();
        if (setrlimit(RLIMIT_NOFILE, &only_standard_streams) != 0) return CHILD_SKIPPED;
        const bool only = register_as(name) && Instance::IsOnlyApplicationInstance();
        setrlimit(RLIMIT_NOFILE, &files);
        return only ? 0 : 1;
    });
    EXPECT_EQ(starved, 0) << "a copy that cannot take the name runs unguarded";
    Instance::ReleaseApplicationInstance();
    EXPECT_EQ(ask(name), 0) << "after the first copy ended";

    const int killed = run_in_child([&] {
        if (only_copy(name)) raise(SIGKILL);
        return 1;
    });
    EXPECT_EQ(killed, -1) << "the holder was killed outright";
    EXPECT_EQ(ask(name), 0) << "a copy killed outright leaves nothing behind";
}

TEST_F(InstanceCopies, ACopyOfAnotherUserIsRefusedAndRefusesToo) {
    if (geteuid() != 0) GTEST_SKIP() << "starting a copy as another user needs root";
    const std::string name = unique_name("users");
    ASSERT_TRUE(register_as(name));
    EXPECT_EQ(ask(name, true), 1) << "nobody, while root's copy runs";
    Instance::ReleaseApplicationInstance();
    Copy holder(name, true);
    holder.go();
    ASSERT_EQ(holder.answer(), 't');
    EXPECT_EQ(ask(name), 1) << "root, while nobody's copy runs";
}

TEST_F(InstanceCopies, OfTwentyCopiesStartedAtOnceExactlyOneRuns) {
    for (int round = 0; round < 3; ++round) {
        const std::string name = unique_name("burst");
        std::vector<std::unique_ptr<Copy>> copies;
        for (int i = 0; i < 20; ++i)
            copies.push_back(std::make_unique<Copy>(name, geteuid() == 0 && i % 2));
        for (auto& copy : copies) copy->go();
        std::string answers;
        for (auto& copy : copies) answers += copy->answer();
        std::sort(answers.begin(), answers.end());
        EXPECT_EQ(answers, std::string(19, 'f') + "t") << "round " << round;
    }
}

}  // namespace
