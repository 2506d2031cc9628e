// The local caller-ID database file: its path, its bytes, and its exclusive, atomic
// creation.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "app/local_callerid_database.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;

std::wstring wide(const std::string& ascii) { return std::wstring(ascii.begin(), ascii.end()); }

std::vector<std::string> entries(const fs::path& dir) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

TEST(LocalDatabasePath, JoinsTheFoldersAndRefusesWhatWouldLeaveThem) {
    const std::wstring sub = L"/Orvane/talvex/config/dispatch_console/";
    EXPECT_EQ(LocalDatabasePath(L"/var/lib", L" \tcallerIdLocal.xml  "),
              L"/var/lib" + sub + L"callerIdLocal.xml");
    EXPECT_EQ(LocalDatabasePath(L"/srv/data/", L"calls.XML.xml"),
              L"/srv/data" + sub + L"calls.XML.xml");
    // A failed folder query leaves an empty text; never fall back to the working folder.
    for (const wchar_t* folder : {L"", L"relative/dir"})
        EXPECT_EQ(LocalDatabasePath(folder, L"callerIdLocal.xml"), L"");
    for (const std::wstring& name :
         {L"a\0b.xml"s, L"   "s, L""s, L"."s, L" .. "s, L"sub/calls.xml"s, L"/etc/x.xml"s})
        EXPECT_EQ(LocalDatabasePath(L"/var/lib", name), L"") << testing::PrintToString(name);
    EXPECT_EQ(AppendPathPiece(L"", L"x"), L"x");
    EXPECT_EQ(AppendPathPiece(L"/a", L"/x"), L"/a/x");
}

// The empty five-column recordset, byte for byte. No nullable, keycolumn or dbtype: a
// dbtype would turn the Unicode adWChar columns into 8-bit text. The rows' namespace
// points at the schema by its id.
const std::string kRecordset =
    read_file_bytes(TALVEX_SOURCE_DIR "/tests/fixtures/empty_caller_id_database.xml");

TEST(LocalDatabaseFile, ExistingEntriesAreNeverTouchedMissingOnesAreCreated) {
    TempDir dir;
    const std::string folder = dir.file("folder.xml"), link = dir.file("link.xml"),
                      dangling = dir.file("dangling.xml"), target = dir.file("target.txt");
    write_file_bytes(target, "target");
    ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
    ASSERT_EQ(symlink(target.c_str(), link.c_str()), 0);
    ASSERT_EQ(symlink(dir.file("nowhere.txt").c_str(), dangling.c_str()), 0);

    for (const std::string& path : {folder, link, dangling, dir.file("")}) {
        EXPECT_FALSE(CreateLocalDatabase(wide(path))) << path;
        EXPECT_TRUE(EnsureLocalDatabase(wide(path))) << path << " counts as present";
    }
    EXPECT_EQ(read_file_bytes(target), "target");
    EXPECT_TRUE(fs::is_empty(folder));
    EXPECT_TRUE(fs::is_symlink(link) && fs::is_symlink(dangling));

    // What is missing is created, where a folder exists to hold it.
    EXPECT_TRUE(CreateLocalDatabase(wide(dir.file("new.xml"))));
    EXPECT_EQ(read_file_bytes(dir.file("new.xml")), kRecordset) << "no declaration, no BOM";
    for (const std::string& bad : {dir.file("missing/new.xml"), std::string()}) {
        EXPECT_FALSE(CreateLocalDatabase(wide(bad))) << bad;
        EXPECT_FALSE(EnsureLocalDatabase(wide(bad))) << bad;
    }
    // No temporary file left, and no "nowhere.txt": a dangling symlink is never followed.
    EXPECT_EQ(entries(dir.path()), (std::vector<std::string>{"dangling.xml", "folder.xml",
                                                             "link.xml", "new.xml", "target.txt"}));
}

TEST(LocalDatabaseFile, AFailedWriteLeavesNothingBehind) {
    TempDir dir;
    const int status = run_in_child([&] {
        // The file size limit cuts the write short (EFBIG instead of SIGXFSZ).
        signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{100, 100};
        setrlimit(RLIMIT_FSIZE, &limit);
        return CreateLocalDatabase(wide(dir.file("callerIdLocal.xml"))) ? 0 : 1;
    });
    EXPECT_EQ(status, 1) << "the cut write must fail";
    EXPECT_TRUE(fs::is_empty(dir.path())) << testing::PrintToString(entries(dir.path()));
}

}  // namespace
