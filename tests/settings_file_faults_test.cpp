// Bad input and failing file systems: every fault gives false and leaves the old
// file whole. Tests run as root in CI, where permission bits stop nothing, so a
// child process becomes nobody to meet a read-only folder or limits its file size,
// and a full file system is a small tmpfs in a child's private mount namespace.
#include <acl/libacl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/acl.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <random>
#include <set>
#include <string>

#include "code/configparser.h"
#include "code/console_setting_parser.h"
#include "tests/support/child_process.h"
#include "tests/support/ini_text.h"
#include "tests/support/log_capture.h"
#include "tests/support/temp_dir.h"

namespace {

const std::string OLD_FILE = ini_lines("---\n[Old]\nkey = old value\n");

// A parser holding `keys` keys of about 40 bytes, so a write takes a while.
void fill(ConfigParser& p, size_t keys, char tag) {
    for (size_t i = 0; i < keys; ++i)
        p.set("S" + std::to_string(i / 100), "key" + std::to_string(i),
              std::string(30, tag) + std::to_string(i), true);
}

std::vector<std::string> folder_entries(const std::filesystem::path& dir) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir))
        names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

// In a child: permission bits apply, also where the tests run as root.
bool permissions_apply() { return geteuid() != 0 || become_nobody(); }

class FaultTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::filesystem::create_directory(m_folder);
        write_file_bytes(m_path, OLD_FILE);
    }
    bool save_big(size_t keys) {
        ConfigParser p(true);
        fill(p, keys, 'n');
        return p.write(m_path.c_str(), false);
    }
    bool old_file_alone() {
        return read_file_bytes(m_path) == OLD_FILE &&
               folder_entries(m_folder) == std::vector<std::string>{"TalvexSettings.INI"};
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
            if (!permissions_apply()) return CHILD_SKIPPED;
            return SaveConsoleSettings(m_path.c_str(), ConsoleSettings()) ? 1 : 0;
        });
    };
    EXPECT_EQ(run_in_child([&] {
                  ConfigParser p(true);
                  if (!permissions_apply()) return CHILD_SKIPPED;
                  return p.read(m_path.c_str()) || !p.sections().empty() || save_big(100) ? 1 : 0;
              }),
              0);
    EXPECT_EQ(save(), 0);
    EXPECT_TRUE(old_file_alone());

    ASSERT_EQ(chmod(m_path.c_str(), 0666), 0);
    struct stat before {
    }, after{};
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

// The new file takes the old one's ACL entries, not only its mode bits.
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

TEST_F(FaultTest, FullFileSystemOrFileSizeLimitKeepsTheOldFile) {
    EXPECT_EQ(run_in_child([&] {
                  signal(SIGXFSZ, SIG_IGN);
                  const rlimit limit{16 * 1024, 16 * 1024};
                  return setrlimit(RLIMIT_FSIZE, &limit) != 0 || save_big(5000);
              }),
              0)
        << "the write over the limit must answer false";
    EXPECT_TRUE(old_file_alone());

    LogCapture log;
    const int full = run_in_child([&] {
        if (geteuid() != 0 || !private_mounts() ||
            mount("tmpfs", m_folder.c_str(), "tmpfs", 0, "size=64k") != 0)
            return CHILD_SKIPPED;
        write_file_bytes(m_path, OLD_FILE);
        // About 250 KB into 64 KB; a save that fits still works.
        return save_big(5000) || !old_file_alone() || !save_big(10) ? 1 : 0;
    });
    if (full == CHILD_SKIPPED) GTEST_SKIP() << "cannot mount a tmpfs here";
    EXPECT_EQ(full, 0);
    const auto records = log.records();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].message, "Check failed [write(new file)].");
    EXPECT_EQ(records[0].error, static_cast<uint32_t>(ENOSPC));
}

TEST_F(FaultTest, KilledMidSaveLeavesOldOrNewNeverAMix) {
    ConfigParser a(true), b(true);
    fill(a, 3000, 'a');
    fill(b, 3000, 'b');
    ASSERT_TRUE(a.write(m_path.c_str(), true));
    const std::string content_a = read_file_bytes(m_path);
    ASSERT_TRUE(b.write(m_path.c_str(), true));
    const std::string content_b = read_file_bytes(m_path);

    std::mt19937 random(12345);
    std::set<std::string> seen;
    // Enough rounds to catch both contents; the pauses grow in case syncing is slow here.
    // The writer is killed from outside, so it is forked here rather than waited for.
    for (int round = 0; round < 200 && (round < 40 || seen.size() < 2); ++round) {
        const pid_t pid = fork();
        if (pid == 0) {
            for (unsigned i = 0;; ++i) (i % 2 ? a : b).write(m_path.c_str(), true);
        }
        usleep(random() % (5000 + round * 1000));
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
        const std::string now = read_file_bytes(m_path);
        ASSERT_TRUE(now == content_a || now == content_b) << "round " << round;
        seen.insert(now);
    }
    EXPECT_EQ(seen.size(), 2u) << "the kills should have caught both contents";
    // A kill between naming the new file and the rename can leave it behind; the
    // next save removes what dead processes left.
    ASSERT_TRUE(save_big(1));
    EXPECT_EQ(folder_entries(m_folder), std::vector<std::string>{"TalvexSettings.INI"});
}

// A save sweeps the leftovers of dead processes only: not a live one's, and in "/"
// nobody else's files.
TEST_F(FaultTest, LeftoversOfLiveProcessesAndOtherFilesAreKept) {
    const std::string mine = ".TalvexSettings.INI." + std::to_string(getpid()) + ".0000abcd.tmp";
    write_file_bytes(m_folder + "/" + mine, "x");
    write_file_bytes(m_folder + "/.TalvexSettings.INI.999999999.0000abcd.tmp", "x");
    EXPECT_TRUE(save_big(1));
    EXPECT_EQ(folder_entries(m_folder), (std::vector<std::string>{mine, "TalvexSettings.INI"}));

    const std::string name = "talvex-root-" + std::to_string(getpid()) + ".ini";
    const std::string own = "/." + name + ".999999999.0000abcd.tmp";
    const std::string foreign = "/" + name + ".999999999.0000abcd.tmp";
    write_file_bytes(own, "x");
    if (read_file_bytes(own) != "x") GTEST_SKIP() << "\"/\" is not writable here";
    write_file_bytes(foreign, "x");
    ConfigParser p(true);
    fill(p, 1, 'r');
    EXPECT_TRUE(p.write(("/" + name).c_str(), false));
    EXPECT_FALSE(std::filesystem::exists(own));
    EXPECT_TRUE(std::filesystem::exists(foreign));
    for (const std::string& path : {own, foreign, "/" + name}) std::filesystem::remove(path);
}

// A missing folder, a folder, a FIFO (without waiting for a writer) or a device at
// the name: nothing is read or created, and none of it is logged.
TEST_F(FaultTest, EntriesThatAreNoFileGiveFalse) {
    LogCapture log;
    std::filesystem::remove(m_path);
    std::filesystem::create_directory(m_path);
    const std::string fifo = m_folder + "/fifo.ini";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    for (const std::string& path : {m_dir.file("no/such/folder/TalvexSettings.INI"), m_path, fifo,
                                    std::string("/dev/zero")}) {
        ConsoleSettings settings;
        EXPECT_FALSE(LoadConsoleSettings(path.c_str(), settings)) << path;
        if (path != fifo && path != "/dev/zero") {
            EXPECT_FALSE(SaveConsoleSettings(path.c_str(), settings)) << path;
        }
    }
    EXPECT_FALSE(std::filesystem::exists(m_dir.file("no")));
    EXPECT_TRUE(std::filesystem::is_directory(m_path));
    EXPECT_TRUE(log.messages().empty()) << "a file that cannot be opened is not logged";
}

}  // namespace
