// Bad input and failing file systems: every fault gives false and leaves the old
// file whole. Tests run as root in CI, where permission bits stop nothing, so a
// child process drops its privileges to meet a read-only folder or limits its file
// size, and a full file system is a small tmpfs in a private mount namespace.
#include <acl/libacl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <signal.h>
#include <sys/acl.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <random>
#include <set>
#include <string>

#include "code/configparser.h"
#include "code/console_setting_parser.h"
#include "tests/support/log_capture.h"
#include "tests/support/temp_dir.h"

namespace {

const std::string SEP =
    "# -----------------------------------------------------------------------------";
const std::string OLD_FILE = SEP + "\r\n[Old]\r\nkey = old value\r\n";

// A parser holding `keys` keys of about 40 bytes, so a write takes a while.
void fill(ConfigParser& p, size_t keys, char tag) {
    for (size_t i = 0; i < keys; ++i) {
        p.set("S" + std::to_string(i / 100), "key" + std::to_string(i),
              std::string(30, tag) + std::to_string(i), true);
    }
}

std::vector<std::string> folder_entries(const std::filesystem::path& dir) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir))
        names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

// Runs `body` in a child process and returns its exit code (-1 when it did not exit).
int in_child(const std::function<bool()>& body) {
    const pid_t pid = fork();
    if (pid == 0) _exit(body() ? 0 : 1);
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Drops root to "nobody" so permission bits apply; a no-op for other users.
bool drop_privileges() {
    if (geteuid() != 0) return true;
    return setgroups(0, nullptr) == 0 && setgid(65534) == 0 && setuid(65534) == 0;
}

// A tmpfs over `target`, in a mount namespace of this test process's own.
struct Tmpfs {
    Tmpfs(std::string at, const char* options) : target(std::move(at)) {
        mounted = geteuid() == 0 && unshare(CLONE_NEWNS) == 0 &&
                  mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
                  mount("tmpfs", target.c_str(), "tmpfs", 0, options) == 0;
    }
    ~Tmpfs() {
        if (mounted) umount2(target.c_str(), MNT_DETACH);
    }
    std::string target;
    bool mounted;
};

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
    void expect_old_file_alone() {
        EXPECT_EQ(read_file_bytes(m_path), OLD_FILE);
        EXPECT_EQ(folder_entries(m_folder), std::vector<std::string>{"TalvexSettings.INI"});
    }

    TempDir m_dir;
    std::string m_folder = m_dir.file("config");
    std::string m_path = m_folder + "/TalvexSettings.INI";
};

TEST_F(FaultTest, ReadOnlyFolderAndUnreadableFileKeepTheOldFile) {
    ASSERT_EQ(chmod(m_path.c_str(), 0), 0);
    ASSERT_EQ(chmod(m_folder.c_str(), 0555), 0);
    ASSERT_EQ(chmod(m_dir.path().c_str(), 0755), 0);
    EXPECT_EQ(in_child([&] {
                  ConfigParser p(true);
                  return drop_privileges() && !p.read(m_path.c_str()) && p.sections().empty() &&
                         !save_big(100) && !SaveConsoleSettings(m_path.c_str(), ConsoleSettings());
              }),
              0);
    chmod(m_folder.c_str(), 0755);
    expect_old_file_alone();
}

// An admin closed the folder but left the file writable: the save goes into the file
// itself rather than being lost. A file with a second name is not written there.
TEST_F(FaultTest, ReadOnlyFolderWithAWritableFileIsWrittenInPlace) {
    ASSERT_EQ(chmod(m_path.c_str(), 0666), 0);
    ASSERT_EQ(chmod(m_folder.c_str(), 0555), 0);
    ASSERT_EQ(chmod(m_dir.path().c_str(), 0755), 0);
    struct stat before {};
    ASSERT_EQ(stat(m_path.c_str(), &before), 0);
    const auto save_as_nobody = [&] {
        return in_child([&] {
            return drop_privileges() && SaveConsoleSettings(m_path.c_str(), ConsoleSettings());
        });
    };
    EXPECT_EQ(save_as_nobody(), 0);
    struct stat after {};
    ASSERT_EQ(stat(m_path.c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino) << "the same file, rewritten";
    ConsoleSettings loaded;
    EXPECT_TRUE(LoadConsoleSettings(m_path.c_str(), loaded));

    const std::string other = m_dir.file("other");
    write_file_bytes(m_path, OLD_FILE);
    ASSERT_EQ(link(m_path.c_str(), other.c_str()), 0);
    EXPECT_EQ(save_as_nobody(), 1);
    chmod(m_folder.c_str(), 0755);
    EXPECT_EQ(read_file_bytes(other), OLD_FILE);
}

// A link planted at the name is not read through, and a save replaces the link
// itself; its target keeps its bytes, owner and mode.
TEST_F(FaultTest, PlantedLinkIsReplacedNeverFollowed) {
    const std::string victim = m_dir.file("victim");
    write_file_bytes(victim, "victim");
    ASSERT_EQ(chmod(victim.c_str(), 0600), 0);
    std::filesystem::remove(m_path);
    std::filesystem::create_symlink(victim, m_path);
    LogCapture log;
    ConsoleSettings settings;
    EXPECT_FALSE(LoadConsoleSettings(m_path.c_str(), settings));
    EXPECT_EQ(log.messages().size(), 1u) << "the refused link is logged";
    EXPECT_TRUE(SaveConsoleSettings(m_path.c_str(), settings));
    EXPECT_FALSE(std::filesystem::is_symlink(m_path));
    EXPECT_EQ(read_file_bytes(victim), "victim");
    EXPECT_TRUE(LoadConsoleSettings(m_path.c_str(), settings));
}

// The new file takes the old one's ACL entries, not only its mode bits.
TEST_F(FaultTest, SaveKeepsTheOldFilesAcl) {
    const char* text = "u::rw-,u:nobody:r--,g::---,m::r--,o::---";
    acl_t acl = acl_from_text(text);
    ASSERT_NE(acl, nullptr);
    const int set = acl_set_file(m_path.c_str(), ACL_TYPE_ACCESS, acl);
    acl_free(acl);
    if (set != 0) GTEST_SKIP() << "no ACLs on this file system";
    struct stat before {};
    ASSERT_EQ(stat(m_path.c_str(), &before), 0);
    EXPECT_TRUE(save_big(1));
    struct stat after {};
    ASSERT_EQ(stat(m_path.c_str(), &after), 0);
    EXPECT_NE(after.st_ino, before.st_ino) << "a new file";
    acl = acl_get_file(m_path.c_str(), ACL_TYPE_ACCESS);
    ASSERT_NE(acl, nullptr);
    char* now = acl_to_any_text(acl, nullptr, ',', TEXT_ABBREVIATE);
    EXPECT_STREQ(now, text);
    acl_free(now);
    acl_free(acl);
}

TEST_F(FaultTest, FullFileSystemOrFileSizeLimitKeepsTheOldFile) {
    const int code = in_child([&] {
        signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{16 * 1024, 16 * 1024};
        return setrlimit(RLIMIT_FSIZE, &limit) == 0 && !save_big(5000);
    });
    EXPECT_EQ(code, 0) << "the write over the limit must answer false";
    expect_old_file_alone();

    const Tmpfs tmpfs(m_folder, "size=64k");
    if (!tmpfs.mounted) GTEST_SKIP() << "cannot mount a tmpfs here";
    write_file_bytes(m_path, OLD_FILE);
    LogCapture log;
    EXPECT_FALSE(save_big(5000)) << "about 250 KB into 64 KB";
    expect_old_file_alone();
    const auto records = log.records();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].message, "Check failed [write(new file)].");
    EXPECT_EQ(records[0].error, static_cast<uint32_t>(ENOSPC));
    EXPECT_TRUE(save_big(10)) << "a save that fits still works";
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
    ConfigParser c(true);
    fill(c, 1, 'c');
    ASSERT_TRUE(c.write(m_path.c_str(), true));
    EXPECT_EQ(folder_entries(m_folder), std::vector<std::string>{"TalvexSettings.INI"});
}

TEST_F(FaultTest, LeftoverOfALiveProcessIsKept) {
    const std::string mine = ".TalvexSettings.INI." + std::to_string(getpid()) + ".0000abcd.tmp";
    write_file_bytes(m_folder + "/" + mine, "x");
    write_file_bytes(m_folder + "/.TalvexSettings.INI.999999999.0000abcd.tmp", "x");
    EXPECT_TRUE(save_big(1));
    EXPECT_EQ(folder_entries(m_folder), (std::vector<std::string>{mine, "TalvexSettings.INI"}));
}

// A file directly in "/" sweeps its own leftovers and nobody else's files.
TEST_F(FaultTest, LeftoversOfAFileInTheRootFolder) {
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

TEST_F(FaultTest, MissingFolderAndFolderAsFileGiveFalseAndDefaults) {
    LogCapture log;
    std::filesystem::remove(m_path);
    std::filesystem::create_directory(m_path);
    for (const std::string& path : {m_dir.file("no/such/folder/TalvexSettings.INI"), m_path}) {
        ConsoleSettings settings;
        settings.SetAdmServer("kept");
        EXPECT_FALSE(LoadConsoleSettings(path.c_str(), settings)) << path;
        EXPECT_EQ(settings.GetAdmServer(), "") << "defaults";
        EXPECT_FALSE(SaveConsoleSettings(path.c_str(), settings)) << path;
    }
    EXPECT_FALSE(std::filesystem::exists(m_dir.file("no")));
    EXPECT_TRUE(std::filesystem::is_directory(m_path));
    EXPECT_TRUE(log.messages().empty()) << "a file that cannot be opened is not logged";
}

TEST_F(FaultTest, NulBytesAndHugeLinesAreReadWhole) {
    write_file_bytes(m_path, std::string("[A\0B]\r\nk\0ey = v\0al\r\n", 21));
    ConfigParser nul(true);
    EXPECT_TRUE(nul.read(m_path.c_str()));
    std::string value;
    EXPECT_TRUE(nul.get(std::string("A\0B", 3), std::string("k\0ey", 4), value));
    EXPECT_EQ(value, std::string("v\0al", 4));

    const std::string huge(3 * 1024 * 1024, 'x');
    write_file_bytes(m_path, "[A]\nlong = " + huge + "\n" + huge + "\n[" + huge + "]\nk=1\n");
    ConfigParser big(true);
    EXPECT_TRUE(big.read(m_path.c_str()));
    EXPECT_TRUE(big.get("A", "long", value));
    EXPECT_EQ(value, huge);
    EXPECT_TRUE(big.has_option(huge, "k"));
}

TEST_F(FaultTest, SpecialFilesAreNotRead) {
    const std::string fifo = m_folder + "/fifo.ini";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    ConfigParser p(true);
    EXPECT_FALSE(p.read(fifo.c_str())) << "and does not wait for a writer";
    EXPECT_FALSE(p.read("/dev/zero"));
    EXPECT_TRUE(p.sections().empty());
}

}  // namespace
