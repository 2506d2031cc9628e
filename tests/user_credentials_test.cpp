// Group membership by name, for a token of chosen gids and for the running process.
#include <grp.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <functional>
#include <string>
#include <vector>

#include "code/user_credentials.h"
#include "tests/support/log_capture.h"
#include "tests/support/temp_dir.h"

namespace {

const char LOOKUP_FAILED[] = "LookupAccountName failed";
constexpr int SKIPPED = 77;

std::vector<gid_t> process_groups() {
    std::vector<gid_t> groups(static_cast<size_t>(getgroups(0, nullptr)));
    groups.resize(static_cast<size_t>(getgroups(static_cast<int>(groups.size()), groups.data())));
    return groups;
}

// Runs `body` in a forked child and gives its exit code (-1 when it did not exit).
int run_in_child(const std::function<int()>& body) {
    const pid_t child = fork();
    if (child == 0) _exit(body());
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

// In a private mount namespace of the calling child, the name service reads `content`
// as /etc/group. Nothing outside the child sees it.
bool use_group_file(const std::string& path, const std::string& content) {
    write_file_bytes(path, content);
    return unshare(CLONE_NEWNS) == 0 &&
           mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
           mount(path.c_str(), "/etc/group", nullptr, MS_BIND, nullptr) == 0;
}

TEST(IsMemberOfGroup, TokenCountsItsPrimaryAndSupplementaryGids) {
    const group* users = getgrnam("users");
    if (!users) GTEST_SKIP() << "no group `users` here";
    const gid_t gid = users->gr_gid;
    LogCapture log;
    const UserToken primary{gid, {}};
    const UserToken supplementary{54321, {54322, gid, 54323}};
    const UserToken outsider{54321, {54322, 54323}};
    EXPECT_TRUE(IsMemberOfGroup(L"users", &primary));
    EXPECT_TRUE(IsMemberOfGroup(L"users", &supplementary));
    EXPECT_FALSE(IsMemberOfGroup(L"users", &outsider));
    const UserToken root{0, {}};
    EXPECT_TRUE(IsMemberOfGroup(L"root", &root));
    EXPECT_FALSE(IsMemberOfGroup(L"root", &primary));
    EXPECT_TRUE(log.messages().empty());
}

TEST(IsMemberOfGroup, AMissingGroupIsReportedOnceWithItsErrorCode) {
    const UserToken anyone{0, {100}};
    LogCapture log;
    EXPECT_FALSE(IsMemberOfGroup(L"Talvex_No_Such_Group_7f3a", &anyone));
    const auto records = log.records();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].message, LOOKUP_FAILED);
    EXPECT_EQ(records[0].error, static_cast<uint32_t>(ENOENT));
    EXPECT_EQ(records[0].flags, (1u << 3) | 4u) << "level 4, carrying the platform's error";

    LogCapture absent;
    EXPECT_FALSE(IsMemberOfGroup(nullptr, &anyone));
    EXPECT_FALSE(IsMemberOfGroup(L"", &anyone));
    const auto more = absent.records();
    ASSERT_EQ(more.size(), 2u);
    EXPECT_EQ(more[0].error, static_cast<uint32_t>(EINVAL));
    EXPECT_EQ(more[1].error, static_cast<uint32_t>(ENOENT));
}

TEST(IsMemberOfGroup, ANameOnlyAUserCarriesIsNoMemberAndNoFailure) {
    const passwd* user = nullptr;
    setpwent();
    while ((user = getpwent()) && getgrnam(user->pw_name)) {
    }
    endpwent();
    if (!user) GTEST_SKIP() << "every user here has a group of the same name";
    const std::string name = user->pw_name;
    const UserToken token{user->pw_gid, {}};
    LogCapture log;
    EXPECT_FALSE(IsMemberOfGroup(std::wstring(name.begin(), name.end()).c_str(), &token));
    EXPECT_TRUE(log.messages().empty()) << name;
}

TEST(IsMemberOfGroup, NullTokenIsTheRunningProcess) {
    const group* own = getgrgid(getegid());
    ASSERT_NE(own, nullptr);
    const std::string own_name = own->gr_name;
    EXPECT_TRUE(IsMemberOfGroup(std::wstring(own_name.begin(), own_name.end()).c_str(), nullptr));

    const std::vector<gid_t> mine = process_groups();
    std::string stranger;
    setgrent();
    for (const group* g = getgrent(); g && stranger.empty(); g = getgrent()) {
        if (g->gr_gid != getegid() && std::find(mine.begin(), mine.end(), g->gr_gid) == mine.end())
            stranger = g->gr_name;
    }
    endgrent();
    ASSERT_FALSE(stranger.empty());
    LogCapture log;
    EXPECT_FALSE(IsMemberOfGroup(std::wstring(stranger.begin(), stranger.end()).c_str(), nullptr))
        << stranger;
    EXPECT_TRUE(log.messages().empty());
}

TEST(IsMemberOfGroup, NullTokenSeesTheProcessSupplementaryGroups) {
    if (geteuid() != 0) GTEST_SKIP() << "changing the process's groups needs root";
    const group* users = getgrnam("users");
    if (!users) GTEST_SKIP() << "no group `users` here";
    const gid_t gid = users->gr_gid;
    const int answer = run_in_child([gid] {
        if (setgid(54321) != 0 || setgroups(0, nullptr) != 0) return SKIPPED;
        const bool without = IsMemberOfGroup(L"users", nullptr);
        if (setgroups(1, &gid) != 0) return SKIPPED;
        const bool with = IsMemberOfGroup(L"users", nullptr);
        return (without ? 1 : 0) | (with ? 2 : 0);
    });
    if (answer == SKIPPED) GTEST_SKIP() << "setgroups refused";
    EXPECT_EQ(answer, 2) << "member only while `users` is among the supplementary groups";
}

// The supervisors group, with more members than the name service's first buffer holds.
TEST(IsMemberOfGroup, ReadsAGroupEntryLargerThanTheFirstBuffer) {
    if (geteuid() != 0) GTEST_SKIP() << "a private /etc/group needs root";
    TempDir dir;
    std::string members;
    for (int i = 0; i < 4000; ++i) members += (i ? ",member" : "member") + std::to_string(i);
    const std::string content = "root:x:0:\nTalvex_Supervisors:x:4242:" + members + "\n";
    const std::string path = dir.file("group");
    const int answer = run_in_child([&] {
        if (!use_group_file(path, content)) return SKIPPED;
        const UserToken supervisor{54321, {4242}};
        const UserToken other{54321, {4243}};
        if (setgid(54321) != 0 || setgroups(1, &supervisor.groups[0]) != 0) return SKIPPED;
        return (IsMemberOfGroup(L"Talvex_Supervisors", &supervisor) ? 1 : 0) |
               (IsMemberOfGroup(L"Talvex_Supervisors", &other) ? 2 : 0) |
               (IsMemberOfGroup(L"Talvex_Supervisors", nullptr) ? 4 : 0);
    });
    if (answer == SKIPPED) GTEST_SKIP() << "cannot bind a private /etc/group here";
    EXPECT_EQ(answer, 1 | 4);
}

}  // namespace
