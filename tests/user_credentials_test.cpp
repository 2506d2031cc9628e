// Group membership by name, for a token of chosen gids and for the running process.
#include <grp.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <iterator>
#include <string>
#include <vector>

#include "code/user_credentials.h"
#include "tests/support/child_process.h"
#include "tests/support/log_capture.h"
#include "tests/support/temp_dir.h"

namespace {

// A token counts its primary and supplementary gids; a missing group is reported once, with its
// error code, and is no membership.
TEST(IsMemberOfGroup, ByTheGidsOfAToken) {
    const group* users = getgrnam("users");
    if (!users) GTEST_SKIP() << "no group `users` here";
    const gid_t gid = users->gr_gid;
    const struct {
        const wchar_t* group;
        UserToken token;
        bool member;
        int error;  // reported, 0 when nothing is
    } cases[] = {
        {L"users", {gid, {}}, true, 0},
        {L"users", {54321, {54322, gid, 54323}}, true, 0},
        {L"users", {54321, {54322, 54323}}, false, 0},
        {L"Talvex_No_Such_Group_7f3a", {0, {100}}, false, ENOENT},
        {nullptr, {0, {100}}, false, EINVAL},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << (c.group ? c.group : L"(null)") << " " << c.member);
        LogCapture log;
        EXPECT_EQ(IsMemberOfGroup(c.group, &c.token), c.member);
        const auto records = log.records();
        ASSERT_EQ(records.size(), c.error ? 1u : 0u);
        EXPECT_EQ(records.empty() ? 0u : records[0].error, static_cast<uint32_t>(c.error));
    }
}

// A private /etc/group, seen only by a child of gid 54321 in the supervisors group: that group has
// more members than the name service's first buffer holds, and no group is named after the user
// daemon.
TEST(IsMemberOfGroup, ThePrivateGroupsOfAChildProcess) {
    if (geteuid() != 0) GTEST_SKIP() << "a private /etc/group needs root";
    TempDir dir;
    std::string members;
    for (int i = 0; i < 4000; ++i) members += (i ? ",member" : "member") + std::to_string(i);
    write_file_bytes(dir.file("group"),
                     "Talvex_Supervisors:x:4242:" + members + "\nown:x:54321:\nusers:x:100:\n");
    LogCapture log;
    const int failed_check = run_in_child([&] {
        const gid_t supervisors = 4242;
        if (!private_mounts(dir.file("group")) || setgid(54321) != 0 ||
            setgroups(1, &supervisors) != 0)
            return CHILD_SKIPPED;
        const bool checks[] = {
            IsMemberOfGroup(L"Talvex_Supervisors", nullptr), IsMemberOfGroup(L"own", nullptr),
            !IsMemberOfGroup(L"users", nullptr),
            !IsMemberOfGroup(L"daemon", nullptr),  // a user's name, no failure
        };
        const auto failed = std::find(std::begin(checks), std::end(checks), false);
        return failed == std::end(checks) ? 0 : 1 + static_cast<int>(failed - checks);
    });
    if (failed_check == CHILD_SKIPPED) GTEST_SKIP() << "cannot bind a private /etc/group here";
    EXPECT_EQ(failed_check, 0) << "the number of the check that failed";
    EXPECT_TRUE(log.messages().empty());
}

}  // namespace
