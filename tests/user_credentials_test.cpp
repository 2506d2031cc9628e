// Group membership by name, for a token of chosen gids and for the running process.
#include <grp.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <tuple>

#include "code/user_credentials.h"
#include "tests/support/child_process.h"
#include "tests/support/log_capture.h"
#include "tests/support/temp_dir.h"

namespace {

// A token counts its primary and supplementary gids; a missing group is reported once, with its
// error code (the last column, 0 when nothing is reported), and is no membership.
TEST(IsMemberOfGroup, ByTheGidsOfAToken) {
    const group* users = getgrnam("users");
    if (!users) GTEST_SKIP() << "no group `users` here";
    const gid_t gid = users->gr_gid;
    const std::tuple<const wchar_t*, UserToken, bool, uint32_t> cases[] = {
        {L"users", {gid, {}}, true, 0},
        {L"users", {54321, {54322, gid, 54323}}, true, 0},
        {L"users", {54321, {54322, 54323}}, false, 0},
        {L"Talvex_No_Such_Group_7f3a", {0, {100}}, false, ENOENT},
        {nullptr, {0, {100}}, false, EINVAL},
    };
    for (const auto& [name, token, member, error] : cases) {
        SCOPED_TRACE(testing::Message() << (name ? name : L"(null)") << " " << member);
        LogCapture log;
        EXPECT_EQ(IsMemberOfGroup(name, &token), member);
        const auto records = log.records();
        ASSERT_EQ(records.size(), error ? 1u : 0u);
        EXPECT_EQ(records.empty() ? 0u : records[0].error, error);
    }
}

// A private /etc/group, seen only by a child of gid 54321 in the supervisors group: that group has
// more members than the name service's first buffer holds, and no group is named after the user
// daemon.
TEST(IsMemberOfGroup, ThePrivateGroupsOfAChildProcess) {
    if (geteuid() != 0) GTEST_SKIP() << "a private /etc/group needs root";
    TempDir dir;
    std::string group_file = "Talvex_Supervisors:x:4242:root";
    for (int i = 0; i < 4000; ++i) group_file += ",member" + std::to_string(i);
    write_file_bytes(dir.file("group"), group_file + "\nown:x:54321:\nusers:x:100:\n");
    LogCapture log;
    const int bits = run_in_child([&] {
        const gid_t supervisors = 4242;
        if (!private_mounts(dir.file("group")) || setgid(54321) != 0 ||
            setgroups(1, &supervisors) != 0)
            return CHILD_SKIPPED;
        int member = 0;  // a bit per group, the first the highest
        for (const wchar_t* name : {L"Talvex_Supervisors", L"own", L"users", L"daemon"})
            member = member << 1 | IsMemberOfGroup(name, nullptr);
        return member;
    });
    if (bits == CHILD_SKIPPED) GTEST_SKIP() << "cannot bind a private /etc/group here";
    EXPECT_EQ(bits, 0b1100);
    EXPECT_TRUE(log.messages().empty());
}

}  // namespace
