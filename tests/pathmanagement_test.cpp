// The machine-wide data folder: finding it, joining paths below it, and creating
// folders opened to the group `users` through POSIX ACLs on a real file system.
#include <acl/libacl.h>
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/acl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cwchar>
#include <filesystem>
#include <string>
#include <vector>

#include "code/pathmanagement.h"
#include "tests/support/child_process.h"
#include "tests/support/log_capture.h"
#include "tests/support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using winutils::MAX_PATH_UNITS;
using Reports = std::vector<std::string>;

const char JOIN_FAILED[] = "Assertion failure: PathAppend(AppDataPath, SubDirPath)";
const char CREATE_FAILED[] = "Assertion failure: CreateMissingDirectories(AppDataPath)";
const wchar_t CONFIG_SUBDIR[] = L"/Orvane/talvex/config/dispatch_console";

std::wstring wide(const std::string& text) { return std::wstring(text.begin(), text.end()); }

// A MAX_PATH buffer holding `text`, with a marker after it to see what the code wrote.
std::vector<wchar_t> path_buffer(const std::wstring& text) {
    std::vector<wchar_t> buffer(MAX_PATH_UNITS + 8, L'#');
    std::wmemcpy(buffer.data(), text.c_str(), text.size() + 1);
    return buffer;
}

// `text`; an empty one must leave zeros throughout the first MAX_PATH units.
testing::AssertionResult holds(const std::vector<wchar_t>& buffer, const std::wstring& text) {
    const bool zeroed =
        std::wstring(buffer.data(), MAX_PATH_UNITS) == std::wstring(MAX_PATH_UNITS, 0);
    if (text.empty() ? zeroed : text == buffer.data()) return testing::AssertionSuccess();
    return testing::AssertionFailure() << "holds \"" << buffer.data() << "\"";
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

mode_t mode_of(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 ? info.st_mode & 07777 : 0;
}

TEST(ProgramDataPath, TakesAnAbsoluteVariableElseVarLibAndNeverACutPath) {
    const std::string fits = "/" + std::string(MAX_PATH_UNITS - 2, 'p');  // 259 units
    const std::string too_long = fits + "q";
    const struct {
        const char* value;
        std::wstring folder;  // empty: the call fails
    } cases[] = {
        {"/srv/shared data", L"/srv/shared data"},
        {nullptr, L"/var/lib"},
        {"", L"/var/lib"},
        {"relative/data", L"/var/lib"},
        {"./x", L"/var/lib"},
        {"/srv/caf\xE9", L""},  // Latin-1 bytes under a UTF-8 locale: no guess
        {fits.c_str(), wide(fits)},
        {too_long.c_str(), L""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value ? c.value : "(unset)");
        c.value ? setenv("PROGRAMDATA", c.value, 1) : unsetenv("PROGRAMDATA");
        std::vector<wchar_t> buffer(MAX_PATH_UNITS, L'#');
        EXPECT_EQ(winutils::GetProgramDataPath(buffer.data(), MAX_PATH_UNITS), c.folder.size());
        EXPECT_TRUE(holds(buffer, c.folder));
    }
    unsetenv("PROGRAMDATA");
    wchar_t small[8];
    std::wmemset(small, L'#', 8);
    EXPECT_EQ(winutils::GetProgramDataPath(small, 8), 0u) << "/var/lib needs 9 units";
    EXPECT_EQ(std::wstring(small, 8), std::wstring(8, L'\0'));
    EXPECT_EQ(winutils::GetProgramDataPath(nullptr, 8), 0u);
    EXPECT_EQ(winutils::GetProgramDataPath(small, 0), 0u);
}

TEST(AppendSubDirPath, JoinsWithOneSeparatorOrLeavesAnEmptyPathNeverACutOne) {
    const std::wstring base = L"/" + std::wstring(200, L'b');
    const std::wstring exact = std::wstring(MAX_PATH_UNITS - 1 - base.size() - 1, L'm');
    const std::wstring too_long = exact + L"m";
    const struct {
        std::wstring base;
        const wchar_t* more;
        std::wstring joined;  // empty: the join fails
    } cases[] = {
        {L"/data", L"/Orvane/talvex", L"/data/Orvane/talvex"},
        {L"/data/", L"/Orvane", L"/data/Orvane"},
        {L"/data", L"fbclient.dll", L"/data/fbclient.dll"},
        {L"/data/", L"fbclient.dll", L"/data/fbclient.dll"},
        {L"/data", L"///x", L"/data/x"},
        {L"/data", L"", L"/data"},
        {L"/data", L"/", L"/data"},
        {L"/", L"etc", L"/etc"},
        {L"/data", L"a/b/", L"/data/a/b/"},
        {L"/data", nullptr, L"/data"},
        {base, exact.c_str(), base + L"/" + exact},  // 259 units fit
        {base, too_long.c_str(), L""},
        {L"", L"/Orvane", L""},  // never a relative path
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.base.size() << " + " << (c.more ? c.more : L"(null)"));
        auto buffer = path_buffer(c.base);
        LogCapture log;
        winutils::AppendSubDirPath(buffer.data(), c.more, false);
        EXPECT_TRUE(holds(buffer, c.joined));
        EXPECT_EQ(buffer[MAX_PATH_UNITS], L'#') << "nothing written past MAX_PATH";
        EXPECT_EQ(log.messages(), c.joined.empty() ? Reports{JOIN_FAILED} : Reports{});
    }
    std::vector<wchar_t> unterminated(MAX_PATH_UNITS, L'u');
    LogCapture log;
    winutils::AppendSubDirPath(nullptr, L"x", true);
    winutils::AppendSubDirPath(unterminated.data(), L"x", false);
    EXPECT_TRUE(holds(unterminated, L""));
    EXPECT_EQ(log.messages(), Reports{JOIN_FAILED});
}

// Folders made below a private $PROGRAMDATA; skipped where its file system has no ACLs.
class DataFolder : public testing::Test {
protected:
    void SetUp() override {
        const group* users = getgrnam("users");
        if (!users) GTEST_SKIP() << "no group `users` here";
        m_users = std::to_string(users->gr_gid);
        if (!set_acl(m_root.path(), "u::rwx,g::r-x,g:users:rwx,m::rwx,o::r-x"))
            GTEST_SKIP() << "the temp folder's file system has no POSIX ACLs";
        ASSERT_TRUE(set_acl(m_root.path(), "u::rwx,g::r-x,o::r-x"));
        setenv("PROGRAMDATA", m_root.path().c_str(), 1);
    }

    // $PROGRAMDATA joined with `more`, made with `create` set.
    std::string create(const wchar_t* more) {
        std::vector<wchar_t> buffer(MAX_PATH_UNITS, L'#');
        winutils::GetProgramDataPath(buffer.data(), buffer.size());
        winutils::AppendSubDirPath(buffer.data(), more, true);
        return std::string(buffer.data(), buffer.data() + std::wcslen(buffer.data()));
    }

    std::string shared(const std::string& others) const {
        return "user::rwx,group::r-x,group:" + m_users + ":rwx," + others;
    }

    TempDir m_root{"talvex-programdata"};
    std::string m_users;
};

TEST_F(DataFolder, CreatesEveryLevelWhateverTheUmaskOpensOnlyTheDeepestAndNeverReopensIt) {
    const mode_t old_umask = umask(077);
    LogCapture log;
    const std::string deepest = create(CONFIG_SUBDIR);
    umask(old_umask);
    EXPECT_TRUE(log.messages().empty());
    ASSERT_EQ(deepest, m_root.file("Orvane/talvex/config/dispatch_console"));
    ASSERT_TRUE(fs::is_directory(deepest));
    for (const char* level : {"Orvane", "Orvane/talvex", "Orvane/talvex/config"}) {
        EXPECT_EQ(acl_extended_file(m_root.file(level).c_str()), 0) << level;
        EXPECT_EQ(mode_of(m_root.file(level)), 0755u) << level;
    }
    EXPECT_EQ(acl_text(deepest), shared("mask::rwx,other::r-x"));
    EXPECT_EQ(acl_text(deepest, ACL_TYPE_DEFAULT), acl_text(deepest));

    // What is made inside inherits the entry; the creator's mode caps only the mask.
    const std::string file = deepest + "/TalvexSettings.INI";
    const int fd = open(file.c_str(), O_CREAT | O_WRONLY, 0666);
    ASSERT_GE(fd, 0);
    close(fd);
    EXPECT_EQ(acl_text(file),
              "user::rw-,group::r-x,group:" + m_users + ":rwx,mask::rw-,other::r--");
    const std::string sub = deepest + "/sub";
    ASSERT_EQ(mkdir(sub.c_str(), 0777), 0);
    EXPECT_EQ(acl_text(sub), shared("mask::rwx,other::r-x"));
    EXPECT_EQ(acl_text(sub, ACL_TYPE_DEFAULT), acl_text(sub));

    // An administrator narrowed the folder after it was made; a later run must not undo that.
    ASSERT_TRUE(set_acl(deepest, "u::rwx,g::r-x,g:users:r-x,m::r-x,o::---"));
    ASSERT_EQ(acl_delete_def_file(deepest.c_str()), 0);
    const std::string narrowed = acl_text(deepest);
    EXPECT_EQ(create(CONFIG_SUBDIR), deepest);
    EXPECT_TRUE(log.messages().empty());
    EXPECT_EQ(acl_text(deepest), narrowed);
    EXPECT_EQ(acl_text(deepest, ACL_TYPE_DEFAULT), "");
}

TEST_F(DataFolder, LevelsBelowAFolderWithADefaultAclInheritIt) {
    // Another group's inherited entry, limited by the inherited mask to r-x.
    ASSERT_TRUE(set_acl(m_root.path(), "u::rwx,g::r-x,g:root:rwx,m::r-x,o::r-x", ACL_TYPE_DEFAULT));
    LogCapture log;
    const std::string deepest = create(L"/Orvane/talvex");
    EXPECT_TRUE(log.messages().empty());
    EXPECT_EQ(acl_text(m_root.file("Orvane")),
              "user::rwx,group::r-x,group:0:rwx,mask::r-x,other::r-x")
        << "inherited as it stands, not reset to the shared mode";
    // Opening the mask for users must not widen what the other group could do.
    const std::string expected =
        "user::rwx,group::r-x,group:0:r-x,group:" + m_users + ":rwx,mask::rwx,other::r-x";
    EXPECT_EQ(acl_text(deepest), expected);
    EXPECT_EQ(acl_text(deepest, ACL_TYPE_DEFAULT), expected);
}

TEST_F(DataFolder, WhatCannotBeMadeIsReportedAndNothingIsOpenedOrCut) {
    write_file_bytes(m_root.file("Orvane"), "not a folder");
    LogCapture log;
    EXPECT_EQ(create(L"/Orvane"), m_root.file("Orvane"));
    create(L"/Orvane/talvex");
    EXPECT_EQ(create(std::wstring(MAX_PATH_UNITS, L'x').c_str()), "");
    EXPECT_EQ(log.messages(), (Reports{CREATE_FAILED, CREATE_FAILED, JOIN_FAILED, CREATE_FAILED}))
        << "a file where the folder is, or a level above is; a join that does not fit";
    EXPECT_EQ(acl_extended_file(m_root.file("Orvane").c_str()), 0);
    EXPECT_EQ(std::distance(fs::directory_iterator(m_root.path()), fs::directory_iterator()), 1);
}

TEST_F(DataFolder, GrantReplacesAnEntryTheGroupHadAndKeepsTheOthers) {
    const std::string dir = m_root.file("existing");
    ASSERT_EQ(mkdir(dir.c_str(), 0750), 0);
    ASSERT_TRUE(set_acl(dir, "u::rwx,g::r-x,g:" + m_users + ":r--,u:0:rwx,m::rwx,o::---"));
    LogCapture log;
    winutils::GrantUsersFullAccess(wide(dir).c_str());
    EXPECT_TRUE(log.messages().empty());
    EXPECT_EQ(acl_text(dir),
              "user::rwx,user:0:rwx,group::r-x,group:" + m_users + ":rwx,mask::rwx,other::---");
    EXPECT_EQ(acl_text(dir, ACL_TYPE_DEFAULT), acl_text(dir));
}

// In a child's private mount namespace: a machine without the group `users`, and a file
// system without POSIX ACLs (ramfs). The folder keeps its mode; the failure is reported.
TEST_F(DataFolder, WithoutTheGroupOrAclSupportTheFolderStaysAsMadeAndTheFailureIsReported) {
    write_file_bytes(m_root.file("group"), "root:x:0:\n");
    const std::string dir = m_root.file("shared"), ramfs = m_root.file("ramfs");
    ASSERT_EQ(mkdir(dir.c_str(), 0755), 0);
    ASSERT_EQ(mkdir(ramfs.c_str(), 0755), 0);
    LogCapture log;
    const int status = run_in_child([&] {
        if (!private_mounts(m_root.file("group")) ||
            mount("ramfs", ramfs.c_str(), "ramfs", 0, nullptr) != 0)
            return CHILD_SKIPPED;
        winutils::GrantUsersFullAccess(wide(dir).c_str());
        std::vector<wchar_t> path = path_buffer(wide(ramfs));
        winutils::AppendSubDirPath(path.data(), L"/Orvane/talvex", true);
        return mode_of(ramfs + "/Orvane/talvex") == 0755 ? 0 : 1;
    });
    if (status == CHILD_SKIPPED) GTEST_SKIP() << "cannot mount privately here (not privileged)";
    EXPECT_EQ(status, 0) << "the folder on ramfs is made all the same";
    EXPECT_EQ(acl_extended_file(dir.c_str()), 0);
    // For ramfs, the default list is the first thing it cannot give.
    EXPECT_EQ(log.messages(),
              (Reports{"verify(SetEntriesInAcl(1, &explicitAccess, acl, &newAcl) == "
                       "ERROR_SUCCESS) failure",
                       "verify(GetNamedSecurityInfo( const_cast<TCHAR*>(dir_path), "
                       "SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, NULL, NULL, &acl, NULL, "
                       "&descriptor) == ERROR_SUCCESS) failure"}));
}

}  // namespace
