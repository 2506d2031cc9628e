// The machine-wide data folder, and folders below it opened to the group `users` by POSIX ACLs.
#include <acl/libacl.h>
#include <gmock/gmock.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>

#include <algorithm>
#include <cwchar>
#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

#include "code/pathmanagement.h"
#include "tests/support/child_process.h"
#include "tests/support/log_capture.h"
#include "tests/support/scoped_env.h"
#include "tests/support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using testing::HasSubstr;
using winutils::MAX_PATH_UNITS;
using Reports = std::vector<std::string>;

const char JOIN_FAILED[] = "Assertion failure: PathAppend(AppDataPath, SubDirPath)";
const char CREATE_FAILED[] = "Assertion failure: CreateMissingDirectories(AppDataPath)";

std::wstring wide(const std::string& text) { return std::wstring(text.begin(), text.end()); }

// Path buffers end in a marker, also past MAX_PATH, to see every unit the code wrote.
constexpr size_t BUFFER_UNITS = MAX_PATH_UNITS + 8;

// A path buffer: `text`, zeros up to `zeros_to`, the marker after.
std::wstring filled(const std::wstring& text, size_t zeros_to) {
    return text + std::wstring(zeros_to - text.size(), L'\0') +
           std::wstring(BUFFER_UNITS - zeros_to, L'#');
}

// The text form of an ACL (empty when there is none or it cannot be read).
std::string acl_text(const std::string& path, acl_type_t type = ACL_TYPE_ACCESS) {
    acl_t acl = acl_get_file(path.c_str(), type);
    char* text = acl ? acl_to_any_text(acl, nullptr, ',', TEXT_NUMERIC_IDS) : nullptr;
    std::string out = text ? text : "";
    acl_free(text);
    acl_free(acl);
    return out;
}

bool set_acl(const std::string& path, const std::string& text, acl_type_t type = ACL_TYPE_ACCESS) {
    acl_t acl = acl_from_text(text.c_str());
    const bool done = acl && acl_set_file(path.c_str(), type, acl) == 0;
    acl_free(acl);
    return done;
}

TEST(ProgramDataPath, TakesAnAbsoluteVariableElseVarLibAndNeverACutPath) {
    const std::string fits = "/" + std::string(MAX_PATH_UNITS - 2, 'p');  // 259 units
    const std::string too_long = fits + "q";
    // $PROGRAMDATA, the capacity, the folder given ("": the call fails).
    const std::tuple<const char*, size_t, std::wstring> cases[] = {
        {nullptr, MAX_PATH_UNITS, L"/var/lib"},
        {"relative/data", MAX_PATH_UNITS, L"/var/lib"},
        {nullptr, 8, L""},  // /var/lib needs 9 units
        {nullptr, 0, L""},
        {"/srv/caf\xE9", MAX_PATH_UNITS, L""},  // Latin-1 bytes under a UTF-8 locale: no guess
        {fits.c_str(), MAX_PATH_UNITS, wide(fits)},
        {too_long.c_str(), MAX_PATH_UNITS, L""},
    };
    for (const auto& [value, capacity, folder] : cases) {
        SCOPED_TRACE(value ? value : "(unset)");
        ScopedEnv env("PROGRAMDATA", value);
        std::wstring buffer(BUFFER_UNITS, L'#');
        EXPECT_EQ(winutils::GetProgramDataPath(buffer.data(), capacity), folder.size());
        EXPECT_EQ(buffer, filled(folder, capacity));
    }
    EXPECT_EQ(winutils::GetProgramDataPath(nullptr, 8), 0u);
}

TEST(AppendSubDirPath, JoinsWithOneSeparatorOrLeavesAnEmptyPathNeverACutOne) {
    const std::wstring long_base = L"/" + std::wstring(200, L'b');
    const std::wstring exact = std::wstring(MAX_PATH_UNITS - 1 - long_base.size() - 1, L'm');
    const std::wstring too_long = exact + L"m";
    // The path, what is joined to it, the result ("": the join fails and clears MAX_PATH).
    const std::tuple<std::wstring, const wchar_t*, std::wstring> cases[] = {
        {L"/data/", L"///x", L"/data/x"},
        {L"/data", L"/", L"/data"},
        {L"/data", nullptr, L"/data"},
        {long_base, exact.c_str(), long_base + L"/" + exact},  // 259 units fit
        {long_base, too_long.c_str(), L""},
        {L"", L"/Orvane", L""},                           // never a relative path
        {std::wstring(MAX_PATH_UNITS, L'u'), L"x", L""},  // unterminated
    };
    for (const auto& [base, more, joined] : cases) {
        SCOPED_TRACE(testing::Message() << base.size() << " + " << (more ? more : L"(null)"));
        std::wstring buffer = filled(base, std::min(base.size() + 1, MAX_PATH_UNITS));
        LogCapture log;
        winutils::AppendSubDirPath(buffer.data(), more, false);
        EXPECT_EQ(buffer, filled(joined, joined.empty() ? MAX_PATH_UNITS : joined.size() + 1));
        EXPECT_EQ(log.messages(), joined.empty() ? Reports{JOIN_FAILED} : Reports{});
    }
    winutils::AppendSubDirPath(nullptr, L"x", true);
}

// Folders made below a private folder; skipped where its file system has no ACLs.
class DataFolder : public testing::Test {
protected:
    void SetUp() override {
        const group* users = getgrnam("users");
        if (!users) GTEST_SKIP() << "no group `users` here";
        m_users = std::to_string(users->gr_gid);
        if (!set_acl(m_root.path(), "u::rwx,g::r-x,g:users:rwx,m::rwx,o::r-x"))
            GTEST_SKIP() << "the temp folder's file system has no POSIX ACLs";
        ASSERT_TRUE(set_acl(m_root.path(), "u::rwx,g::r-x,o::r-x"));
    }

    // The path made below `base` (the private folder when not given); "" when the join failed.
    std::string create(const wchar_t* more, const std::string& base = "") {
        const std::wstring path = wide(base.empty() ? m_root.path().string() : base);
        std::wstring buffer = filled(path, path.size() + 1);
        winutils::AppendSubDirPath(buffer.data(), more, true);
        return std::string(buffer.c_str(), buffer.c_str() + std::wcslen(buffer.c_str()));
    }

    TempDir m_root{"talvex-programdata"};
    std::string m_users;
};

TEST_F(DataFolder, CreatesEveryLevelWhateverTheUmaskOpensOnlyTheDeepestAndReportsWhatItCannotMake) {
    const mode_t old_umask = umask(077);
    LogCapture log;
    const std::string deepest = create(L"/Orvane/talvex/config/dispatch_console");
    umask(old_umask);
    ASSERT_EQ(deepest, m_root.file("Orvane/talvex/config/dispatch_console"));
    for (const char* level : {"Orvane", "Orvane/talvex", "Orvane/talvex/config"}) {
        EXPECT_EQ(acl_extended_file(m_root.file(level).c_str()), 0) << level;
        EXPECT_EQ(fs::status(m_root.file(level)).permissions(), fs::perms(0755)) << level;
    }
    EXPECT_EQ(acl_text(deepest),
              "user::rwx,group::r-x,group:" + m_users + ":rwx,mask::rwx,other::r-x");
    EXPECT_EQ(acl_text(deepest, ACL_TYPE_DEFAULT), acl_text(deepest));

    // An administrator narrowed the folder after it was made; a later run must not undo that.
    ASSERT_TRUE(set_acl(deepest, "u::rwx,g::r-x,g:users:r-x,m::r-x,o::---"));
    const std::string narrowed = acl_text(deepest);
    EXPECT_EQ(create(L"/Orvane/talvex/config/dispatch_console"), deepest);
    EXPECT_EQ(acl_text(deepest), narrowed);
    EXPECT_TRUE(log.messages().empty());

    // A file where a folder is or a level above is; a join that does not fit.
    write_file_bytes(m_root.file("file"), "not a folder");
    EXPECT_EQ(create(L"/file"), m_root.file("file"));
    create(L"/file/below");
    EXPECT_EQ(create(std::wstring(MAX_PATH_UNITS, L'x').c_str()), "");
    EXPECT_EQ(log.messages(), (Reports{CREATE_FAILED, CREATE_FAILED, JOIN_FAILED, CREATE_FAILED}));
}

// In the deepest level the group's own entry is replaced, and the opened mask widens nobody else.
TEST_F(DataFolder, LevelsBelowADefaultAclInheritItAndTheGrantWidensOnlyTheGroup) {
    const std::string others = "user::rwx,user:0:rwx,group::r-x,group:0:rwx,group:" + m_users;
    ASSERT_TRUE(set_acl(m_root.path(), others + ":r--,mask::r-x,other::r-x", ACL_TYPE_DEFAULT));
    const std::string deepest = create(L"/Orvane/talvex");
    EXPECT_EQ(acl_text(m_root.file("Orvane")), others + ":r--,mask::r-x,other::r-x");
    const std::string granted = "user::rwx,user:0:r-x,group::r-x,group:0:r-x,group:" + m_users +
                                ":rwx,mask::rwx,other::r-x";
    EXPECT_EQ(acl_text(deepest), granted);
    EXPECT_EQ(acl_text(deepest, ACL_TYPE_DEFAULT), granted);
}

// In a private mount namespace: no group `users`, and ramfs, a file system without POSIX ACLs.
TEST_F(DataFolder, WithoutTheGroupOrAclSupportTheFolderStaysAsMadeAndTheFailureIsReported) {
    write_file_bytes(m_root.file("group"), "root:x:0:\n");
    const std::string ramfs = m_root.file("ramfs");
    ASSERT_EQ(mkdir(ramfs.c_str(), 0755), 0);
    LogCapture log;
    const int status = run_in_child([&] {
        if (!private_mounts(m_root.file("group")) ||
            mount("ramfs", ramfs.c_str(), "ramfs", 0, nullptr) != 0)
            return CHILD_SKIPPED;
        winutils::GrantUsersFullAccess(wide(m_root.path()).c_str());
        const std::string made = create(L"/Orvane/talvex", ramfs);
        return fs::status(made).permissions() == fs::perms(0755) ? 0 : 1;
    });
    if (status == CHILD_SKIPPED) GTEST_SKIP() << "cannot mount privately here (not privileged)";
    EXPECT_EQ(status, 0) << "the folder on ramfs is made all the same";
    EXPECT_EQ(acl_extended_file(m_root.path().c_str()), 0);
    // For ramfs, the default list is the first thing it cannot give.
    EXPECT_THAT(log.messages(), testing::ElementsAre(HasSubstr("SetEntriesInAcl"),
                                                     HasSubstr("GetNamedSecurityInfo")));
}

}  // namespace
