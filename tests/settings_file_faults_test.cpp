// Bad input and failing file systems: every fault gives false and leaves the old
// file whole. Tests run as root in CI, where permission bits stop nothing, so a
// child process becomes nobody to meet a read-only folder or limits its file size.
#include <acl/libacl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/acl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "code/configparser.h"
#include "code/console_setting_parser.h"
#include "tests/support/child_process.h"
#include "tests/support/ini_text.h"
#include "tests/support/log_capture.h"
#include "tests/support/temp_dir.h"

namespace {

const std::string OLD_FILE = ini_lines("---\n[Old]\nkey = old value\n");

class FaultTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::filesystem::create_directory(m_folder);
        write_file_bytes(m_path, OLD_FILE);
    }
    // Saves `keys` keys of about 40 bytes.
    bool save_big(size_t keys, const char* path = nullptr) {
        ConfigParser p(true);
        for (size_t i = 0; i < keys; ++i)
            p.set("S" + std::to_string(i / 100), "key" + std::to_string(i),
                  std::string(30, 'n') + std::to_string(i), true);
        return p.write(path ? path : m_path.c_str(), false);
    }
    bool old_file_alone() {
        using std::filesystem::directory_iterator;
        return read_file_bytes(m_path) == OLD_FILE &&
               std::distance(directory_iterator(m_folder), directory_iterator()) == 1;
    }

    TempDir m_dir;
    std::string m_folder = m_dir.file("config");
    std::string m_path = m_folder + "/TalvexSettings.INI";
};

// A closed folder keeps an unreadable file; a writable file in it is rewritten in
// place rather than the save being lost, unless the file has a second name.
TEST_F(FaultTest, ReadOnlyFolder) {
    ASSERT_EQ(chmod(m_path.c_str(), 0), 0);
    ASSERT_EQ(chmod(m_folder.c_str(), 0555), 0);
    ASSERT_EQ(chmod(m_dir.path().c_str(), 0755), 0);
    // 1 when nobody could save, 0 when the save was refused.
    const auto save = [&] {
        return run_in_child([&] {
            if (geteuid() == 0 && !become_nobody()) return CHILD_SKIPPED;
            return SaveConsoleSettings(m_path.c_str(), ConsoleSettings()) ? 1 : 0;
        });
    };
    EXPECT_EQ(save(), 0);
    EXPECT_TRUE(old_file_alone());

    ASSERT_EQ(chmod(m_path.c_str(), 0666), 0);
    struct stat before = {}, after = {};
    ASSERT_EQ(stat(m_path.c_str(), &before), 0);
    EXPECT_EQ(save(), 1);
    ASSERT_EQ(stat(m_path.c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino) << "the same file, rewritten";
    ConsoleSettings loaded;
    EXPECT_TRUE(LoadConsoleSettings(m_path.c_str(), loaded));

    const std::string other = m_dir.file("other");
    write_file_bytes(m_path, OLD_FILE);
    ASSERT_EQ(link(m_path.c_str(), other.c_str()), 0);
    EXPECT_EQ(save(), 0);
    chmod(m_folder.c_str(), 0755);
    EXPECT_EQ(read_file_bytes(other), OLD_FILE);
}

// A save replaces a link planted at the name, not its target (a load refuses it:
// console_setting_parser_test).
TEST_F(FaultTest, PlantedLinkIsReplacedNeverFollowed) {
    const std::string victim = m_dir.file("victim");
    write_file_bytes(victim, "victim");
    std::filesystem::remove(m_path);
    std::filesystem::create_symlink(victim, m_path);
    EXPECT_TRUE(SaveConsoleSettings(m_path.c_str(), ConsoleSettings()));
    EXPECT_FALSE(std::filesystem::is_symlink(m_path));
    EXPECT_EQ(read_file_bytes(victim), "victim");
}

TEST_F(FaultTest, SaveKeepsTheOldFilesAcl) {
    const char* text = "u::rw-,u:nobody:r--,g::---,m::r--,o::---";
    acl_t acl = acl_from_text(text);
    ASSERT_NE(acl, nullptr);
    const int set = acl_set_file(m_path.c_str(), ACL_TYPE_ACCESS, acl);
    acl_free(acl);
    if (set != 0) GTEST_SKIP() << "no ACLs on this file system";
    EXPECT_TRUE(save_big(1));
    acl = acl_get_file(m_path.c_str(), ACL_TYPE_ACCESS);
    ASSERT_NE(acl, nullptr);
    char* now = acl_to_any_text(acl, nullptr, ',', TEXT_ABBREVIATE);
    EXPECT_STREQ(now, text);
    acl_free(now);
    acl_free(acl);
}

// A write that fails part way (here at the file size limit; a full disk fails the
// same write) answers false, is logged, and leaves the old file and nothing else.
TEST_F(FaultTest, FailedWriteKeepsTheOldFile) {
    LogCapture log;
    EXPECT_EQ(run_in_child([&] {
                  signal(SIGXFSZ, SIG_IGN);
                  const rlimit limit{16 * 1024, 16 * 1024};
                  return setrlimit(RLIMIT_FSIZE, &limit) != 0 || save_big(5000);
              }),
              0);
    EXPECT_TRUE(old_file_alone());
    const auto records = log.records();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(std::tie(records[0].message, records[0].error),
              std::make_tuple("Check failed [write(new file)].", uint32_t{EFBIG}));
}

// A writer killed between naming the new file and the rename leaves it behind: a save
// sweeps the leftovers of dead processes, not a live one's nor other names, also in "/".
TEST_F(FaultTest, OnlyLeftoversOfDeadProcessesAreSwept) {
    const std::string live = ".TalvexSettings.INI." + std::to_string(getpid()) + ".0000abcd.tmp";
    const std::string other = "TalvexSettings.INI.999999999.0000abcd.tmp";
    for (const std::string& name : {live, other, "." + other})
        write_file_bytes(m_folder + "/" + name, "x");
    EXPECT_TRUE(save_big(1));
    EXPECT_TRUE(std::filesystem::exists(m_folder + "/" + live));
    EXPECT_TRUE(std::filesystem::exists(m_folder + "/" + other));
    EXPECT_FALSE(std::filesystem::exists(m_folder + "/." + other));

    const std::string root = "/talvex-root-" + std::to_string(getpid()) + ".ini";
    const std::string dead = "/." + root.substr(1) + ".999999999.0000abcd.tmp";
    write_file_bytes(dead, "x");
    if (read_file_bytes(dead) != "x") GTEST_SKIP() << "\"/\" is not writable here";
    EXPECT_TRUE(save_big(1, root.c_str()));
    EXPECT_FALSE(std::filesystem::exists(dead));
    for (const std::string& path : {dead, root}) std::filesystem::remove(path);
}

// A folder, a FIFO (without waiting for a writer) or a device at the name: a load
// reads nothing and logs nothing, and a save leaves the FIFO a FIFO. (A save over a
// folder: configparser_test.)
TEST_F(FaultTest, EntriesThatAreNoFileGiveFalse) {
    LogCapture log;
    const std::string fifo = m_folder + "/fifo.ini";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    for (const std::string& path : {m_folder, fifo, std::string("/dev/zero")}) {
        ConsoleSettings settings;
        EXPECT_FALSE(LoadConsoleSettings(path.c_str(), settings)) << path;
    }
    EXPECT_TRUE(log.messages().empty()) << "a file that cannot be opened is not logged";
    EXPECT_FALSE(SaveConsoleSettings(fifo.c_str(), ConsoleSettings()));
    EXPECT_TRUE(std::filesystem::is_fifo(fifo));
}

}  // namespace
