// talvex-config's commands without a display, run as the real executable against a
// private PROGRAMDATA: what they print, their exit codes and what they leave on disk.
#include <gtest/gtest.h>
#include <sched.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "code/console_setting_parser.h"
#include "code/user_credentials.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

struct Result {
    int code = -1;
    std::string out, err;
};

std::string Env(const char* name) { return std::getenv(name) ? std::getenv(name) : ""; }

class AdminCommands : public testing::Test {
protected:
    void save(const ConsoleSettings& record = {}) {
        fs::create_directories(m_folder);
        ASSERT_TRUE(SaveConsoleSettings(m_settings.c_str(), record));
    }

    // Runs `program` with `args`, unless `shared` in a network namespace of its own where
    // it can have one (so a sheet open elsewhere on this machine does not answer for it).
    Result run(const std::vector<std::string>& args, bool asNobody = false, bool shared = false,
               const std::string& program = TALVEX_CONFIG) {
        const std::string out = m_io.file("out"), err = m_io.file("err");
        const int code = run_in_child([&] {
            if (!shared && unshare(CLONE_NEWNET) != 0 && geteuid() == 0) return CHILD_SKIPPED;
            setenv("PROGRAMDATA", m_data.path().c_str(), 1);
            // No display of any kind: a QApplication would abort here.
            for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
                unsetenv(name);
            if (!freopen(out.c_str(), "w", stdout) || !freopen(err.c_str(), "w", stderr) ||
                (asNobody && !become_nobody()))
                return CHILD_SKIPPED;
            std::vector<char*> argv{const_cast<char*>(program.c_str())};
            for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
            argv.push_back(nullptr);
            execvp(argv[0], argv.data());
            return 127;
        });
        return {code, read_file_bytes(out), read_file_bytes(err)};
    }

    TempDir m_data{"talvex-cli-data"};
    TempDir m_io{"talvex-cli-io"};
    const std::string m_folder = m_data.file("Orvane/talvex/config/dispatch_console");
    const std::string m_settings = m_folder + "/TalvexSettings.INI";
    const bool m_root = geteuid() == 0;
};

const char KINDS_OF_PROBLEMS[] =
    "orphan = 1\n[FileInfo]\nversion = 2\n[CallerID]\nADM Server = adm01\n"
    "Authentication = dbms\nCallerIDDatabaseType = Server\nDbmsTcpPort = 70000\n"
    "Local_FileName = calls.xml\nPassword = pw\nPassword = pw2\n[ConsoleOptions]\n"
    "CsleLog = yes\nLanguage Locale = 1033\nSaveActLogToFile = False\n"
    "SavePageHistToFile = True\n[CallerID]\n";
const char CHANGED[] =
    "changed\nThe changes will take effect when the Talvex console application is restarted.\n";
const char PROBLEMS_FOUND[] =
    "{}:1: line outside any section\n{}:3: version is '2', expected 1\n"
    "{}:6: invalid word 'dbms' for CallerID.Authentication (Windows or DBMS)\n"
    "{}:8: port 70000 is out of range 1-65535\n{}:11: duplicate key CallerID.Password\n"
    "{}:13: invalid word 'yes' for ConsoleOptions.CsleLog (True or False)\n"
    "{}:17: duplicate section [CallerID] (first at line 4)\n{}: missing key CallerID.UserID\n"
    "{}: missing key ConsoleOptions.Update Date And Time Bios\n";

TEST_F(AdminCommands, EachCommandAnswersAsTheSheetWould) {
    save();
    const std::string SHEET = read_file_bytes(m_settings);  // the defaults as the sheet saves them
    const bool supervisor = !m_root && IsMemberOfGroup(L"Talvex_Supervisors", nullptr);
    const struct {
        std::vector<std::string> args;
        std::string before;  // the file's bytes, "" for no file
        int code;
        std::string out;  // exact stdout; "{}" stands for the settings file's path
        std::string err;  // what stderr contains; "" when nothing
        bool nobody = false;
    } cases[] = {
        // A missing file gives the defaults; a stored port that is no number the sheet's.
        {{"get", "DbmsTcpPort"}, "", 0, "52444\n", ""},
        {{"get", "CallerID.DbmsTcpPort"}, "[CallerID]\nDbmsTcpPort = abc\n", 0, "52444\n", "whole"},
        {{"get", "Password"}, SHEET, 0, "********\n", ""},
        {{"get", "--show-password", "Password"}, SHEET, 0, "&Tgn@qlv\n", ""},
        // Refused values, and one refused value refuses all.
        {{"set", "Local_FileName=sub/calls"}, SHEET, 1, "", "characters not accepted"},
        {{"set", "CallerIDDatabaseType=Server"}, SHEET, 1, "", "enter data in all fields"},
        {{"set", "Authentication=Kerberos"}, SHEET, 1, "", "Kerberos"},
        {{"set", "Language Locale=1024"}, SHEET, 1, "", "no language"},
        {{"set", "Password= lead"}, SHEET, 1, "", "blanks"},
        {{"set", "CsleLog=False", "DbmsTcpPort=0"}, SHEET, 1, "", "between 1 and 65535"},
        // Usage errors.
        {{"set", "Port=1"}, SHEET, 2, "", "unknown key 'Port'"},
        {{"set", "DbmsTcpPort"}, SHEET, 2, "", "not KEY=VALUE"},
        {{"set", "CsleLog=1", "CsleLog=0"}, SHEET, 2, "", "given twice"},
        {{"show", "--verbose"}, SHEET, 2, "", "--verbose"},
        {{"shwo"}, SHEET, 2, "", "unknown command 'shwo'"},
        // Changing the machine's settings needs root or a supervisor (as nobody here), also
        // by the machine file's own path; a file that cannot be written.
        {{"set", "CsleLog=False"}, SHEET, 4, "", "Talvex_Supervisors", true},
        {{"init"}, SHEET, 4, "", "Talvex_Supervisors", true},
        {{"--file", m_settings, "set", "CsleLog=False"}, SHEET, 4, "", "Talvex_Supervisors", true},
        {{"--file", m_settings + "/no/such.INI", "set", "CsleLog=False"}, "", 5, "", "written"},
        // init makes the folder as the sheet does, also when it exists.
        {{"init"}, "", 0, m_folder + "\n", ""},
        {{"init"}, SHEET, 0, m_folder + "\n", ""},
        // A file the sheet wrote checks clean; one problem of each kind.
        {{"check"}, SHEET, 0, "", ""},
        {{"check"}, KINDS_OF_PROBLEMS, 1, PROBLEMS_FOUND, ""},
        {{"check"}, "", 1, "", "No such file"},
        {{"test-connection"}, SHEET, 1, "", "enter data in all fields"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.args));
        if (c.nobody && supervisor) continue;  // cannot drop to a user who is not one
        fs::remove_all(m_data.path() / "Orvane");
        if (!c.before.empty()) {
            fs::create_directories(m_folder);
            write_file_bytes(m_settings, c.before);
        }
        const Result result = run(c.args, c.nobody && m_root);
        std::string out = c.out;
        for (size_t at = out.find("{}"); at != std::string::npos; at = out.find("{}", at))
            out.replace(at, 2, m_settings);
        EXPECT_EQ(result.code, c.code) << result.err;
        EXPECT_EQ(result.out, out);
        EXPECT_TRUE(c.err.empty() ? result.err.empty()
                                  : result.err.find(c.err) != std::string::npos)
            << result.err;
        if (c.code != 0) {
            EXPECT_EQ(read_file_bytes(m_settings), c.before) << "nothing changed";
        }
    }
    // Another file than the machine's is the caller's own business (a workstation image),
    // also for one who is no supervisor; stderr then holds a coverage build's complaints.
    if (m_root) fs::permissions(m_io.path(), fs::perms::all);
    const Result image = run({"--file", m_io.file("image.INI"), "set", "CsleLog=False"}, m_root);
    EXPECT_EQ(std::tie(image.code, image.out), std::make_tuple(0, std::string(CHANGED)));
}

TEST_F(AdminCommands, SetThenShowRoundTripsEveryFieldInTheSheetsLayout) {
    const Result set =
        run({"set", "ADM Server=adm-07", "Authentication=Windows", "CallerIDDatabaseType=Local",
             "DbmsTcpPort=3050", "Local_FileName=calls", "Password=s3cr&t", "UserID=dispatch",
             "CsleLog=False", "Language Locale=1031", "SaveActLogToFile=off",
             "SavePageHistToFile=no", "Update Date And Time Bios=false"});
    ASSERT_EQ(set.code, 0) << set.err;
    EXPECT_EQ(set.out, CHANGED);
    EXPECT_TRUE(fs::is_regular_file(m_folder + "/calls.xml")) << "made as the page makes it";
    EXPECT_EQ(run({"show", "--show-password"}).out,
              "CallerID.ADM Server = adm-07\nCallerID.Authentication = Windows\n"
              "CallerID.CallerIDDatabaseType = Local\nCallerID.DbmsTcpPort = 3050\n"
              "CallerID.Local_FileName = calls.xml\nCallerID.Password = s3cr&t\n"
              "CallerID.UserID = dispatch\nConsoleOptions.CsleLog = False\n"
              "ConsoleOptions.Language Locale = 1031\nConsoleOptions.SaveActLogToFile = False\n"
              "ConsoleOptions.SavePageHistToFile = False\n"
              "ConsoleOptions.Update Date And Time Bios = False\n");
    const Result json = run({"show", "--json"});
    EXPECT_NE(json.out.find("\"DbmsTcpPort\": 3050,"), std::string::npos) << json.out;
    EXPECT_NE(json.out.find("\"Password\": \"********\""), std::string::npos) << json.out;

    // The same values again, spelled otherwise: the file is not touched.
    const auto past = fs::last_write_time(m_settings) - std::chrono::hours(1);
    fs::last_write_time(m_settings, past);
    const Result same = run({"set", "CallerID.DbmsTcpPort=3050", "CsleLog=false"});
    EXPECT_EQ(same.out, "unchanged\n") << same.err;
    EXPECT_EQ(fs::last_write_time(m_settings), past);
}

// The connection test with the stored settings against the real server (on this
// namespace's loopback); a user who may log in but not read the table fails the last step.
TEST_F(AdminCommands, TestConnectionAgainstTheServer) {
    if (!Env("TALVEX_TEST_FB_UNAVAILABLE").empty() || Env("TALVEX_TEST_FB_PORT").empty())
        GTEST_SKIP() << "no Firebird test server: run through scripts/with-test-services";
    ConsoleSettings record;
    record.SetCallerIdDatabaseType(CallerIdDbServer);
    record.SetAdmServer("127.0.0.1");
    record.SetDbmsTcpPort(Env("TALVEX_TEST_FB_PORT"));
    record.SetUserId(Env("TALVEX_TEST_FB_USER"));
    record.SetPassword(Env("TALVEX_TEST_FB_PASSWORD"));
    save(record);
    const Result passed = run({"test-connection"}, false, true);
    EXPECT_EQ(passed.code, 0) << passed.out << passed.err;
    EXPECT_EQ(std::count(passed.out.begin(), passed.out.end(), '\n'), 10) << passed.out;
    EXPECT_NE(passed.out.find("All tests completed successfully."), std::string::npos);

    record.SetUserId(Env("TALVEX_TEST_FB_NOROLE_USER"));
    record.SetPassword(Env("TALVEX_TEST_FB_NOROLE_PASSWORD"));
    save(record);
    const Result refused = run({"test-connection", "--verbose"}, false, true);
    EXPECT_EQ(refused.code, 1);
    for (const char* part :
         {"Unable to read.\n\nError: Test failed.\n",
          "Firebird 3.0\nServer version: ", "Firebird 3.0\nStep \"client library\": passed",
          "\"connect\": passed", "\"read\": failed", "Firebird error 335544352", "CALLERID"})
        EXPECT_NE(refused.out.find(part), std::string::npos) << part << " in " << refused.out;
}

// docs/fleet's playbook as an administrator runs it: changed, then ok, values in the file;
// a refused value fails the host.
TEST_F(AdminCommands, TheFleetPlaybookReportsChangedOnlyWhenTheFileChanged) {
    if (system("command -v ansible-playbook >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "ansible-playbook is not installed (scripts/install-deps)";
    setenv("ANSIBLE_HOME", m_io.file("ansible").c_str(), 1);
    setenv("ANSIBLE_LOCAL_TEMP", m_io.file("ansible-tmp").c_str(), 1);
    setenv("LC_ALL", "C.UTF-8", 1);
    const std::string vars = std::string("talvex_config=") + TALVEX_CONFIG +
                             " talvex_programdata=" + m_data.path().string();
    const std::string playbook = TALVEX_SOURCE_DIR "/docs/fleet/talvex-settings.yml";
    std::vector<std::string> args = {"-i", "localhost,", "-c", "local", "-e", vars, playbook};
    for (const std::string summary : {"changed=1", "changed=0 ", "failed=1"}) {
        if (summary == "failed=1")
            args.insert(args.end(), {"-e", R"({"talvex_settings": ["DbmsTcpPort=0"]})"});
        const Result result = run(args, false, false, "ansible-playbook");
        EXPECT_EQ(result.code != 0, summary == "failed=1") << result.out << result.err;
        EXPECT_NE(result.out.find(summary), std::string::npos) << result.out;
    }
    EXPECT_EQ(run({"get", "ADM Server"}).out + run({"get", "DbmsTcpPort"}).out, "adm01\n3050\n");
}

}  // namespace
