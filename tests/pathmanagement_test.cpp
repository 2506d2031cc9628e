// The machine-wide data folder: finding it, joining paths below it, and creating
// folders opened to the group `users` through POSIX ACLs on a real file system.
#include <acl/libacl.h>
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <stdlib.h>
#include <sys/acl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <cwchar>
#include <filesystem>
#include <string>
#include <vector>

#include "code/pathmanagement.h"
#include "tests/support/log_capture.h"
#include "tests/support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using winutils::MAX_PATH_UNITS;

const char JOIN_FAILED[] = "Assertion failure: PathAppend(AppDataPath, SubDirPath)";
const char CREATE_FAILED[] = "Assertion failure: CreateMissingDirectories(AppDataPath)";
const char GET_ACL_FAILED[] =
    "verify(GetNamedSecurityInfo( const_cast<TCHAR*>(dir_path), SE_FILE_OBJECT, "
    "DACL_SECURITY_INFORMATION, NULL, NULL, &acl, NULL, &descriptor) == ERROR_SUCCESS) failure";
const wchar_t CONFIG_SUBDIR[] = L"/Orvane/talvex/config/dispatch_console";

class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : m_name(name) {
        if (const char* old = getenv(name)) m_old = old, m_had = true;
        value ? setenv(name, value, 1) : unsetenv(name);
    }
    ~ScopedEnv() { m_had ? setenv(m_name, m_old.c_str(), 1) : unsetenv(m_name); }

private:
    const char* m_name;
    std::string m_old;
    bool m_had = false;
};

std::wstring wide(const std::string& text) { return std::wstring(text.begin(), text.end()); }

// A MAX_PATH buffer holding `text`, with a marker after the terminator to see what
// the code wrote.
std::vector<wchar_t> path_buffer(const std::wstring& text) {
    std::vector<wchar_t> buffer(MAX_PATH_UNITS + 8, L'#');
    std::wmemcpy(buffer.data(), text.c_str(), text.size() + 1);
    return buffer;
}

gid_t users_gid() {
    const group* users = getgrnam("users");
    return users ? users->gr_gid : static_cast<gid_t>(-1);
}

// The text form of an ACL (empty when there is none or it cannot be read).
std::string acl_text(const std::string& path, acl_type_t type) {
    acl_t acl = acl_get_file(path.c_str(), type);
    if (!acl) return {};
    char* text = acl_to_any_text(acl, nullptr, ',', TEXT_NUMERIC_IDS);
    std::string out = text ? text : "";
    acl_free(text);
    acl_free(acl);
    return out;
}

// The permissions ("rwx" form) of the entry for group `gid`, or "" when it has none.
std::string group_entry(const std::string& path, acl_type_t type, gid_t gid) {
    acl_t acl = acl_get_file(path.c_str(), type);
    std::string perms;
    acl_entry_t entry;
    for (int which = ACL_FIRST_ENTRY; acl && acl_get_entry(acl, which, &entry) == 1;
         which = ACL_NEXT_ENTRY) {
        acl_tag_t tag;
        acl_get_tag_type(entry, &tag);
        if (tag != ACL_GROUP) continue;
        auto* qualifier = static_cast<gid_t*>(acl_get_qualifier(entry));
        if (qualifier && *qualifier == gid) {
            acl_permset_t set;
            acl_get_permset(entry, &set);
            perms += acl_get_perm(set, ACL_READ) ? 'r' : '-';
            perms += acl_get_perm(set, ACL_WRITE) ? 'w' : '-';
            perms += acl_get_perm(set, ACL_EXECUTE) ? 'x' : '-';
        }
        acl_free(qualifier);
    }
    if (acl) acl_free(acl);
    return perms;
}

mode_t mode_of(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 ? info.st_mode & 07777 : 0;
}

// Folders for the creation tests, skipped where the temp folder's file system has no ACLs.
class DataFolder : public testing::Test {
protected:
    void SetUp() override {
        if (users_gid() == static_cast<gid_t>(-1)) GTEST_SKIP() << "no group `users` here";
        const std::string probe = m_root.file("probe");
        mkdir(probe.c_str(), 0755);
        acl_t acl = acl_from_text("u::rwx,g::r-x,g:users:rwx,m::rwx,o::r-x");
        const int rc = acl_set_file(probe.c_str(), ACL_TYPE_ACCESS, acl);
        acl_free(acl);
        rmdir(probe.c_str());
        if (rc != 0) GTEST_SKIP() << "the temp folder's file system has no POSIX ACLs";
    }

    std::vector<wchar_t> program_data() {
        std::vector<wchar_t> buffer(MAX_PATH_UNITS, L'#');
        EXPECT_EQ(winutils::GetProgramDataPath(buffer.data(), buffer.size()),
                  m_root.path().string().size());
        return buffer;
    }

    TempDir m_root{"talvex-programdata"};
    ScopedEnv m_env{"PROGRAMDATA", m_root.path().c_str()};
};

TEST(ProgramDataPath, TakesAnAbsoluteProgramDataVariable) {
    ScopedEnv env("PROGRAMDATA", "/srv/shared data");
    wchar_t buffer[MAX_PATH_UNITS];
    EXPECT_EQ(winutils::GetProgramDataPath(buffer, MAX_PATH_UNITS), 16u);
    EXPECT_STREQ(buffer, L"/srv/shared data");
}

TEST(ProgramDataPath, FallsBackToVarLibWhenUnsetEmptyOrRelative) {
    for (const char* value : {static_cast<const char*>(nullptr), "", "relative/data", "./x"}) {
        ScopedEnv env("PROGRAMDATA", value);
        wchar_t buffer[MAX_PATH_UNITS];
        EXPECT_EQ(winutils::GetProgramDataPath(buffer, MAX_PATH_UNITS), 8u)
            << (value ? value : "(unset)");
        EXPECT_STREQ(buffer, L"/var/lib");
    }
}

TEST(ProgramDataPath, AFolderThatIsNoTextInTheLocaleIsAFailureNotAGuess) {
    ScopedEnv env("PROGRAMDATA", "/srv/caf\xE9");  // Latin-1 bytes under a UTF-8 locale
    std::vector<wchar_t> buffer(MAX_PATH_UNITS, L'#');
    EXPECT_EQ(winutils::GetProgramDataPath(buffer.data(), MAX_PATH_UNITS), 0u);
    EXPECT_EQ(std::count(buffer.begin(), buffer.end(), L'\0'), std::ptrdiff_t(MAX_PATH_UNITS));
}

TEST(ProgramDataPath, ZeroesTheWholeBufferWhenTheFolderDoesNotFit) {
    const std::string fits = "/" + std::string(MAX_PATH_UNITS - 2, 'p');  // 259 units
    ScopedEnv env("PROGRAMDATA", fits.c_str());
    std::vector<wchar_t> buffer(MAX_PATH_UNITS, L'#');
    EXPECT_EQ(winutils::GetProgramDataPath(buffer.data(), MAX_PATH_UNITS), MAX_PATH_UNITS - 1);
    EXPECT_EQ(std::wstring(buffer.data()), wide(fits));

    const std::string too_long = fits + "q";
    ScopedEnv longer("PROGRAMDATA", too_long.c_str());
    std::fill(buffer.begin(), buffer.end(), L'#');
    EXPECT_EQ(winutils::GetProgramDataPath(buffer.data(), MAX_PATH_UNITS), 0u);
    EXPECT_EQ(std::count(buffer.begin(), buffer.end(), L'\0'), std::ptrdiff_t(MAX_PATH_UNITS));

    wchar_t small[8];
    std::wmemset(small, L'#', 8);
    EXPECT_EQ(winutils::GetProgramDataPath(small, 8), 0u) << "/var/lib needs 9 units";
    EXPECT_EQ(std::count(small, small + 8, L'\0'), 8);
    EXPECT_EQ(winutils::GetProgramDataPath(nullptr, 8), 0u);
    EXPECT_EQ(winutils::GetProgramDataPath(small, 0), 0u);
}

TEST(AppendSubDirPath, JoinsWithExactlyOneSeparator) {
    struct Case {
        const wchar_t* base;
        const wchar_t* more;
        const wchar_t* joined;
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
    };
    LogCapture log;
    for (const Case& c : cases) {
        auto buffer = path_buffer(c.base);
        winutils::AppendSubDirPath(buffer.data(), c.more, false);
        EXPECT_STREQ(buffer.data(), c.joined) << c.base << L" + " << c.more;
    }
    EXPECT_TRUE(log.messages().empty());
}

TEST(AppendSubDirPath, IgnoresAbsentArguments) {
    LogCapture log;
    auto buffer = path_buffer(L"/data");
    winutils::AppendSubDirPath(buffer.data(), nullptr, true);
    winutils::AppendSubDirPath(nullptr, L"x", true);
    EXPECT_STREQ(buffer.data(), L"/data");
    EXPECT_TRUE(log.messages().empty());
}

TEST(AppendSubDirPath, JoinThatDoesNotFitLeavesAnEmptyPathNeverACutOne) {
    const std::wstring base = L"/" + std::wstring(200, L'b');
    const std::wstring exact_more = std::wstring(MAX_PATH_UNITS - 1 - base.size() - 1, L'm');

    LogCapture fits_log;
    auto buffer = path_buffer(base);
    winutils::AppendSubDirPath(buffer.data(), exact_more.c_str(), false);
    EXPECT_EQ(std::wstring(buffer.data()), base + L"/" + exact_more) << "259 units fit";
    EXPECT_TRUE(fits_log.messages().empty());

    LogCapture log;
    buffer = path_buffer(base);
    winutils::AppendSubDirPath(buffer.data(), (exact_more + L"m").c_str(), false);
    EXPECT_EQ(log.messages(), std::vector<std::string>{JOIN_FAILED});
    EXPECT_EQ(std::count(buffer.begin(), buffer.begin() + MAX_PATH_UNITS, L'\0'),
              std::ptrdiff_t(MAX_PATH_UNITS));
    EXPECT_EQ(buffer[MAX_PATH_UNITS], L'#') << "nothing written past MAX_PATH";
}

TEST(AppendSubDirPath, RefusesToMakeARelativePathFromAnEmptyOrUnterminatedBase) {
    LogCapture log;
    auto empty = path_buffer(L"");
    winutils::AppendSubDirPath(empty.data(), L"/Orvane", false);
    EXPECT_STREQ(empty.data(), L"");

    std::vector<wchar_t> unterminated(MAX_PATH_UNITS + 8, L'u');
    winutils::AppendSubDirPath(unterminated.data(), L"x", false);
    EXPECT_EQ(std::count(unterminated.begin(), unterminated.begin() + MAX_PATH_UNITS, L'\0'),
              std::ptrdiff_t(MAX_PATH_UNITS));
    EXPECT_EQ(log.messages(), (std::vector<std::string>{JOIN_FAILED, JOIN_FAILED}));
}

TEST_F(DataFolder, CreatesEveryLevelAndOpensOnlyTheDeepestToUsers) {
    auto buffer = program_data();
    LogCapture log;
    winutils::AppendSubDirPath(buffer.data(), CONFIG_SUBDIR, true);
    EXPECT_TRUE(log.messages().empty());
    const fs::path deepest = m_root.path() / "Orvane/talvex/config/dispatch_console";
    ASSERT_EQ(std::wstring(buffer.data()), deepest.wstring());
    ASSERT_TRUE(fs::is_directory(deepest));

    for (const char* level : {"Orvane", "Orvane/talvex", "Orvane/talvex/config"}) {
        const std::string path = (m_root.path() / level).string();
        EXPECT_EQ(acl_extended_file(path.c_str()), 0) << level << " keeps a plain mode";
        EXPECT_EQ(mode_of(path), 0755u) << level;
    }
    EXPECT_EQ(group_entry(deepest, ACL_TYPE_ACCESS, users_gid()), "rwx");
    EXPECT_EQ(group_entry(deepest, ACL_TYPE_DEFAULT, users_gid()), "rwx");
    EXPECT_EQ(
        acl_text(deepest, ACL_TYPE_ACCESS),
        "user::rwx,group::r-x,group:" + std::to_string(users_gid()) + ":rwx,mask::rwx,other::r-x");
    EXPECT_EQ(acl_text(deepest, ACL_TYPE_DEFAULT), acl_text(deepest, ACL_TYPE_ACCESS));
}

TEST_F(DataFolder, WhatIsCreatedInsideInheritsTheUsersEntry) {
    auto buffer = program_data();
    winutils::AppendSubDirPath(buffer.data(), L"Orvane/cfg", true);
    const fs::path folder = m_root.path() / "Orvane/cfg";

    const std::string file = (folder / "TalvexSettings.INI").string();
    const int fd = open(file.c_str(), O_CREAT | O_WRONLY, 0666);
    ASSERT_GE(fd, 0);
    close(fd);
    // The creator's mode caps the mask (0666 leaves no x), the entry itself is inherited whole.
    EXPECT_EQ(group_entry(file, ACL_TYPE_ACCESS, users_gid()), "rwx");
    EXPECT_NE(acl_text(file, ACL_TYPE_ACCESS).find("mask::rw-"), std::string::npos)
        << acl_text(file, ACL_TYPE_ACCESS);

    const std::string sub = (folder / "sub").string();
    ASSERT_EQ(mkdir(sub.c_str(), 0777), 0);
    EXPECT_EQ(group_entry(sub, ACL_TYPE_ACCESS, users_gid()), "rwx");
    EXPECT_EQ(group_entry(sub, ACL_TYPE_DEFAULT, users_gid()), "rwx");
}

TEST_F(DataFolder, AnExistingFolderKeepsItsAccessAndNothingIsReported) {
    auto first = program_data();
    winutils::AppendSubDirPath(first.data(), CONFIG_SUBDIR, true);
    const std::string deepest =
        std::string(first.begin(), first.begin() + std::wcslen(first.data()));
    // An administrator narrowed the folder after it was made; a later run must not undo that.
    acl_t narrowed = acl_from_text("u::rwx,g::r-x,g:users:r-x,m::r-x,o::---");
    ASSERT_EQ(acl_set_file(deepest.c_str(), ACL_TYPE_ACCESS, narrowed), 0);
    acl_free(narrowed);
    ASSERT_EQ(acl_delete_def_file(deepest.c_str()), 0);
    const std::string before = acl_text(deepest, ACL_TYPE_ACCESS);

    LogCapture log;
    auto second = program_data();
    winutils::AppendSubDirPath(second.data(), CONFIG_SUBDIR, true);
    EXPECT_TRUE(log.messages().empty());
    EXPECT_EQ(acl_text(deepest, ACL_TYPE_ACCESS), before);
    EXPECT_EQ(acl_text(deepest, ACL_TYPE_DEFAULT), "");
}

TEST_F(DataFolder, ARestrictiveUmaskDoesNotLockOtherUsersOut) {
    const mode_t old = umask(077);
    auto buffer = program_data();
    winutils::AppendSubDirPath(buffer.data(), L"/Orvane/talvex", true);
    umask(old);
    EXPECT_EQ(mode_of(m_root.file("Orvane")), 0755u);
    EXPECT_EQ(group_entry(m_root.file("Orvane/talvex"), ACL_TYPE_ACCESS, users_gid()), "rwx");
}

TEST_F(DataFolder, LevelsBelowAFolderWithADefaultAclInheritIt) {
    // Another group's inherited entry, limited by the inherited mask to r-x.
    acl_t inherited = acl_from_text("u::rwx,g::r-x,g:root:rwx,m::r-x,o::r-x");
    ASSERT_EQ(acl_set_file(m_root.path().c_str(), ACL_TYPE_DEFAULT, inherited), 0);
    acl_free(inherited);
    auto buffer = program_data();
    LogCapture log;
    winutils::AppendSubDirPath(buffer.data(), L"/Orvane/talvex", true);
    EXPECT_TRUE(log.messages().empty());

    const std::string upper = m_root.file("Orvane");
    EXPECT_EQ(acl_text(upper, ACL_TYPE_ACCESS),
              "user::rwx,group::r-x,group:0:rwx,mask::r-x,other::r-x")
        << "inherited as it stands, not reset to the shared mode";
    const std::string deepest = m_root.file("Orvane/talvex");
    EXPECT_EQ(group_entry(deepest, ACL_TYPE_ACCESS, users_gid()), "rwx");
    EXPECT_EQ(group_entry(deepest, ACL_TYPE_ACCESS, 0), "r-x")
        << "opening the mask for users must not widen what the other group could do";
    EXPECT_EQ(group_entry(deepest, ACL_TYPE_DEFAULT, 0), "r-x");
}

TEST_F(DataFolder, SomethingInTheWayIsReportedAndNothingIsOpened) {
    write_file_bytes(m_root.file("Orvane"), "not a folder");
    auto buffer = program_data();
    LogCapture log;
    winutils::AppendSubDirPath(buffer.data(), L"/Orvane", true);
    winutils::AppendSubDirPath(buffer.data(), L"/talvex", true);
    EXPECT_EQ(log.messages(), (std::vector<std::string>{CREATE_FAILED, CREATE_FAILED}))
        << "a file where the folder should be, then a file where a level above should be";
    EXPECT_EQ(acl_extended_file(m_root.file("Orvane").c_str()), 0);
}

TEST_F(DataFolder, AJoinThatDoesNotFitCreatesNothing) {
    auto buffer = program_data();
    const std::wstring too_long(MAX_PATH_UNITS, L'x');
    LogCapture log;
    winutils::AppendSubDirPath(buffer.data(), too_long.c_str(), true);
    EXPECT_EQ(log.messages(), (std::vector<std::string>{JOIN_FAILED, CREATE_FAILED}));
    EXPECT_TRUE(fs::is_empty(m_root.path())) << "no cut folder made";
}

TEST_F(DataFolder, GrantReplacesAnEntryTheGroupHadAndKeepsTheOthers) {
    const std::string dir = m_root.file("existing");
    ASSERT_EQ(mkdir(dir.c_str(), 0750), 0);
    const std::string users = std::to_string(users_gid());
    acl_t acl = acl_from_text(("u::rwx,g::r-x,g:" + users + ":r--,u:0:rwx,m::rwx,o::---").c_str());
    ASSERT_EQ(acl_set_file(dir.c_str(), ACL_TYPE_ACCESS, acl), 0);
    acl_free(acl);
    LogCapture log;
    winutils::GrantUsersFullAccess(wide(dir).c_str());
    EXPECT_TRUE(log.messages().empty());
    EXPECT_EQ(acl_text(dir, ACL_TYPE_ACCESS),
              "user::rwx,user:0:rwx,group::r-x,group:" + users + ":rwx,mask::rwx,other::---");
    EXPECT_EQ(acl_text(dir, ACL_TYPE_DEFAULT), acl_text(dir, ACL_TYPE_ACCESS));
}

// A machine without the group: the name service reads a private /etc/group in a child.
TEST_F(DataFolder, WithoutTheUsersGroupTheFolderKeepsItsModeAndTheFailureIsReported) {
    const std::string group_file = m_root.file("group");
    write_file_bytes(group_file, "root:x:0:\n");
    const std::string dir = m_root.file("shared");
    ASSERT_EQ(mkdir(dir.c_str(), 0755), 0);
    LogCapture log;
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (unshare(CLONE_NEWNS) != 0 ||
            mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            mount(group_file.c_str(), "/etc/group", nullptr, MS_BIND, nullptr) != 0) {
            _exit(77);
        }
        winutils::GrantUsersFullAccess(wide(dir).c_str());
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 77) GTEST_SKIP() << "cannot bind a private /etc/group here";
    EXPECT_EQ(log.messages(),
              std::vector<std::string>{"verify(SetEntriesInAcl(1, &explicitAccess, acl, &newAcl) "
                                       "== ERROR_SUCCESS) failure"});
    EXPECT_EQ(acl_extended_file(dir.c_str()), 0);
}

// A file system without POSIX ACLs (ramfs), mounted in a private mount namespace of a
// child so that nothing outlives the test.
TEST_F(DataFolder, WithoutAclSupportTheFolderIsStillMadeAndTheFailureReported) {
    const std::string mount_point = m_root.file("ramfs");
    ASSERT_EQ(mkdir(mount_point.c_str(), 0755), 0);
    LogCapture log;
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (unshare(CLONE_NEWNS) != 0 ||
            mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) ||
            mount("ramfs", mount_point.c_str(), "ramfs", 0, nullptr) != 0) {
            _exit(77);
        }
        std::vector<wchar_t> path = path_buffer(wide(mount_point));
        winutils::AppendSubDirPath(path.data(), L"/Orvane/talvex", true);
        struct stat info {};
        _exit(stat((mount_point + "/Orvane/talvex").c_str(), &info) == 0 ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 77) GTEST_SKIP() << "cannot mount a ramfs here (not privileged)";
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the folder is made all the same";
    // The default list is the first thing such a file system cannot give.
    EXPECT_EQ(log.messages(), std::vector<std::string>{GET_ACL_FAILED});
}

}  // namespace
