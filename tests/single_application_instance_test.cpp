// One copy per machine: forked children stand in for the other copies of the tool.
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
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "code/single_application_instance.h"
#include "code/syserrx.h"
#include "tests/support/child_process.h"
#include "tests/support/log_capture.h"

namespace {

using Instance = SingleApplicationInstance;

std::wstring unique_name(const std::wstring& what) {
    return L"Global\\talvex-test " + what + L" " + std::to_wstring(getpid());
}

// In a forked child, which first drops what it inherited as a fresh copy of the tool would not have
// it: registers `name` and answers IsOnlyApplicationInstance.
bool only_copy(const std::wstring& name) {
    Instance::ReleaseApplicationInstance();
    return Instance::RegisterApplicationInstance(name.c_str(), false) &&
           Instance::IsOnlyApplicationInstance();
}

// Another copy's answer: 0 when it is the only one, 1 when not.
int ask(const std::wstring& name) {
    return run_in_child([&] { return only_copy(name) ? 0 : 1; });
}

class InstanceCopies : public testing::Test {
protected:
    void TearDown() override { Instance::ReleaseApplicationInstance(); }
};

TEST_F(InstanceCopies, RegistrationRules) {
    LogCapture log;
    EXPECT_FALSE(Instance::RegisterApplicationInstance(L"", true));
    EXPECT_FALSE(Instance::RegisterApplicationInstance(nullptr, true));
    EXPECT_FALSE(Instance::IsOnlyApplicationInstance()) << "nothing registered";
    const std::wstring name = unique_name(L"rules");
    EXPECT_TRUE(Instance::RegisterApplicationInstance(name.c_str(), false));
    EXPECT_FALSE(Instance::RegisterApplicationInstance(L"other", false)) << "one per process";
    // Nobody can talk to the holder: its address takes no connection.
    sockaddr_un address{AF_UNIX, {}};
    std::copy(name.begin(), name.end(), address.sun_path + 1);
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
    const int rc = connect(fd, reinterpret_cast<const sockaddr*>(&address), length) ? errno : 0;
    EXPECT_EQ(rc, ECONNREFUSED);
    close(fd);
    FILE* started_by_tool = popen("cat", "w");
    ASSERT_NE(started_by_tool, nullptr);
    Instance::ReleaseApplicationInstance();
    EXPECT_EQ(ask(name), 0) << "a program the tool started keeps nothing";
    EXPECT_EQ(pclose(started_by_tool), 0);
    EXPECT_TRUE(log.messages().empty());
}

// The name held under the "C" locale, which cannot encode the third one's characters, against
// another copy's under a UTF-8 one. Make global puts "Global\" in front only when missing; names
// longer than an abstract address takes (107 bytes) are mapped, never cut.
TEST_F(InstanceCopies, WhichNamesAnotherCopyIsRefusedFor) {
    const std::wstring bare = L"talvex-test bare " + std::to_wstring(getpid());
    const std::wstring utf8 = unique_name(L"utf8") + L" caf\u00e9 \u20ac \U0001F4DE";
    const std::wstring fits = (unique_name(L"long") + std::wstring(107, L'f')).substr(0, 107);
    const std::wstring longer = fits + std::wstring(300, L'x') + L"A";
    const std::tuple<std::wstring, bool, std::wstring, int> cases[] = {
        {bare, true, L"Global\\" + bare, 1},
        {unique_name(L"prefixed"), true, unique_name(L"prefixed"), 1},
        {utf8, false, utf8, 1},
        {longer, false, longer, 1},
        {longer, false, longer.substr(0, longer.size() - 1) + L"B", 0},
        {longer, false, fits, 0},  // no cut to the first 107 bytes
    };
    for (const auto& [held, make_global, asked, refused] : cases) {
        SCOPED_TRACE(testing::Message() << asked.size() << " " << asked.substr(0, 40));
        std::setlocale(LC_ALL, "C");
        ASSERT_TRUE(Instance::RegisterApplicationInstance(held.c_str(), make_global));
        std::setlocale(LC_ALL, "C.UTF-8");  // the test main's
        EXPECT_EQ(ask(asked), refused);
        Instance::ReleaseApplicationInstance();
    }
}

TEST_F(InstanceCopies, AStarvedCopyRunsAndAKilledOneLeavesNothing) {
    const std::wstring name = unique_name(L"second");
    ASSERT_TRUE(Instance::RegisterApplicationInstance(name.c_str(), false));
    // Set up before the starved copy reports: UBSan's first type check needs a descriptor it lacks.
    syserr_report(SYSERR_FILE, __LINE__, 4, L"%ls", L"the log is ready before the copies start");
    const int starved = run_in_child([&] {
        // Only the soft limit drops, so that the child can still write out what it did at its end.
        rlimit files{};
        if (getrlimit(RLIMIT_NOFILE, &files) != 0) return CHILD_SKIPPED;
        const rlimit only_standard_streams{3, files.rlim_max};
        if (setrlimit(RLIMIT_NOFILE, &only_standard_streams) != 0) return CHILD_SKIPPED;
        const bool only = only_copy(name);
        setrlimit(RLIMIT_NOFILE, &files);
        return only ? 0 : 1;
    });
    EXPECT_EQ(starved, 0);
    Instance::ReleaseApplicationInstance();
    const int killed = run_in_child([&] {
        if (only_copy(name)) raise(SIGKILL);
        return 1;
    });
    EXPECT_EQ(killed, -1) << "the holder was killed outright";
    EXPECT_EQ(ask(name), 0);
}

// Every second copy runs as nobody when we are root; each holds the name until all have answered.
TEST_F(InstanceCopies, OfTwentyCopiesStartedAtOnceExactlyOneRuns) {
    for (int round = 0; round < 3; ++round) {
        const std::wstring name = unique_name(L"burst " + std::to_wstring(round));
        int go[2], answers[2], hold[2];
        ASSERT_EQ(pipe(go) | pipe(answers) | pipe(hold), 0);
        std::vector<std::jthread> copies;  // joined after the holders are let go
        for (int i = 0; i < 20; ++i) {
            copies.emplace_back(run_in_child, [&, i] {
                char answer = 'x';
                close(hold[1]);
                if (read(go[0], &answer, 1) == 1 && (geteuid() || i % 2 || become_nobody()))
                    answer = only_copy(name) ? 't' : 'f';
                (void)!write(answers[1], &answer, 1);
                return static_cast<int>(read(hold[0], &answer, 1));
            });
        }
        (void)!write(go[1], std::string(20, 'g').data(), 20);
        std::string got;
        pollfd ready{answers[0], POLLIN, 0};
        char some[20];
        while (got.size() < 20 && poll(&ready, 1, 30000) == 1)
            got.append(some, static_cast<size_t>(std::max(0L, read(answers[0], some, 20))));
        close(hold[1]);
        for (int fd : {go[0], go[1], answers[0], answers[1], hold[0]}) close(fd);
        std::sort(got.begin(), got.end());
        EXPECT_EQ(got, std::string(19, 'f') + "t") << "round " << round;
    }
}

}  // namespace
