// talvex-config's commands without a display, run as the real executable against a
// private PROGRAMDATA: what they print, their exit codes and what they leave on disk.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "code/console_setting_parser.h"
#include "code/user_credentials.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"

namespace {

struct Result {
    int code = -1;
    std::string out, err;
};

std::string Env(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

class AdminCommands : public testing::Test {
protected:
    std::string folder() const {
        return (m_data.path() / "Orvane/talvex/config/dispatch_console").string();
    }
    std::string settings() const { return folder() + "/TalvexSettings.INI"; }

    // The settings as the sheet saves them.
    void save(const ConsoleSettings& record, const std::string& path) {
        std::filesystem::create_directories(std::filesystem::path(path).parent_path());
        ASSERT_TRUE(SaveConsoleSettings(path.c_str(), record));
    }
    void save_defaults() { save(ConsoleSettings(), settings()); }

    // Runs `program` with `args` in a network namespace of its own where it can have
    // one (so a sheet open elsewhere on this machine does not answer for it).
    Result run_program(const std::string& program, const std::vector<std::string>& args,
                       bool asNobody = false, bool isolated = true) {
        const std::string out = m_io.file("out"), err = m_io.file("err");
        const int code = run_in_child([&] {
            if (isolated && unshare(CLONE_NEWNET) != 0 && geteuid() == 0) return CHILD_SKIPPED;
            setenv("PROGRAMDATA", m_data.path().c_str(), 1);
            // No display of any kind: a QApplication would abort here.
            for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
                unsetenv(name);
            if (!freopen(out.c_str(), "w", stdout) || !freopen(err.c_str(), "w", stderr))
                return CHILD_SKIPPED;
            if (asNobody && !become_nobody()) return CHILD_SKIPPED;
            std::vector<char*> argv{const_cast<char*>(program.c_str())};
            for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
            argv.push_back(nullptr);
            execvp(argv[0], argv.data());
            return 127;
        });
        return {code, read_file_bytes(out), read_file_bytes(err)};
    }
    Result run(const std::vector<std::string>& args, bool asNobody = false, bool isolated = true) {
        return run_program(TALVEX_CONFIG, args, asNobody, isolated);
    }

    TempDir m_data{"talvex-cli-data"};
    TempDir m_io{"talvex-cli-io"};
};

struct Case {
    std::vector<std::string> args;
    std::string before;  // "" no file, "sheet" the defaults as the sheet saves them, else bytes
    int code;
    std::string out;  // exact stdout; "{}" stands for the settings file's path
    std::string err;  // what stderr contains
};

const char KINDS_OF_PROBLEMS[] =
    "orphan = 1\n[FileInfo]\nversion = 2\n[CallerID]\nADM Server = adm01\n"
    "Authentication = dbms\nCallerIDDatabaseType = Server\nDbmsTcpPort = 70000\n"
    "Local_FileName = calls.xml\nPassword = pw\nPassword = pw2\n[ConsoleOptions]\n"
    "CsleLog = yes\nLanguage Locale = 1033\nSaveActLogToFile = True\n"
    "SavePageHistToFile = True\n[CallerID]\n";

const std::string PORT_RANGE = "Enter an integer between 1 and 65535.";
const std::string FILL_ALL = "Please enter data in all fields.";
const std::string BAD_CHARACTERS =
    "The local database filename contains characters not accepted by the operating system.";

TEST_F(AdminCommands, EachCommandAnswersAsTheSheetWould) {
    const std::string SHEET = "sheet";
    const Case cases[] = {
        // A missing file gives the defaults; a stored port that is no number the sheet's.
        {{"get", "DbmsTcpPort"}, "", 0, "52444\n", ""},
        {{"get", "CallerID.DbmsTcpPort"}, "[CallerID]\nDbmsTcpPort = abc\n", 0, "52444\n", "whole"},
        {{"get", "Password"}, SHEET, 0, "********\n", ""},
        {{"get", "--show-password", "Password"}, SHEET, 0, "&Tgn@qlv\n", ""},
        // Refused values, and one refused value refuses all.
        {{"set", "Local_FileName=sub/calls"}, SHEET, 1, "", BAD_CHARACTERS},
        {{"set", "CallerIDDatabaseType=Server"}, SHEET, 1, "", FILL_ALL},
        {{"set", "Authentication=Kerberos"}, SHEET, 1, "", "Kerberos"},
        {{"set", "Language Locale=1024"}, SHEET, 1, "", "no language"},
        {{"set", "Password= lead"}, SHEET, 1, "", "blanks"},
        {{"set", "CsleLog=False", "DbmsTcpPort=0"}, SHEET, 1, "", PORT_RANGE},
        // Usage errors.
        {{"set", "Port=1"}, SHEET, 2, "", "unknown key 'Port'"},
        {{"set", "DbmsTcpPort"}, SHEET, 2, "", "not KEY=VALUE"},
        {{"set", "CsleLog=1", "CsleLog=0"}, SHEET, 2, "", "given twice"},
        {{"show", "--verbose"}, SHEET, 2, "", "--verbose"},
        {{"shwo"}, SHEET, 2, "", "unknown command 'shwo'"},
        // A file the sheet wrote checks clean; one problem of each kind.
        {{"check"}, SHEET, 0, "", ""},
        {{"check"},
         KINDS_OF_PROBLEMS,
         1,
         "{}:1: line outside any section\n"
         "{}:3: version is '2', expected 1\n"
         "{}:6: invalid word 'dbms' for CallerID.Authentication (Windows or DBMS)\n"
         "{}:8: port 70000 is out of range 1-65535\n"
         "{}:11: duplicate key CallerID.Password\n"
         "{}:13: invalid word 'yes' for ConsoleOptions.CsleLog (True or False)\n"
         "{}:17: duplicate section [CallerID] (first at line 4)\n"
         "{}: missing key CallerID.UserID\n"
         "{}: missing key ConsoleOptions.Update Date And Time Bios\n",
         ""},
        {{"check"}, "", 1, "", "No such file"},
        {{"test-connection"}, SHEET, 1, "", FILL_ALL},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.args));
        std::filesystem::remove_all(m_data.path() / "Orvane");
        if (c.before == SHEET) {
            save_defaults();
        } else if (!c.before.empty()) {
            std::filesystem::create_directories(folder());
            write_file_bytes(settings(), c.before);
        }
        const std::string before = read_file_bytes(settings());
        const Result result = run(c.args);
        std::string out = c.out;
        for (size_t at = out.find("{}"); at != std::string::npos; at = out.find("{}", at))
            out.replace(at, 2, settings());
        EXPECT_EQ(result.code, c.code) << result.err;
        EXPECT_EQ(result.out, out);
        EXPECT_NE(result.err.find(c.err), std::string::npos) << result.err;
        if (c.code != 0) {
            EXPECT_EQ(read_file_bytes(settings()), before) << "nothing changed";
        }
    }
}

TEST_F(AdminCommands, SetThenShowRoundTripsEveryFieldInTheSheetsLayout) {
    const Result set =
        run({"set", "ADM Server=adm-07", "Authentication=Windows", "CallerIDDatabaseType=Local",
             "DbmsTcpPort=3050", "Local_FileName=calls", "Password=s3cr&t", "UserID=dispatch",
             "CsleLog=False", "Language Locale=1031", "SaveActLogToFile=off",
             "SavePageHistToFile=no", "Update Date And Time Bios=false"});
    ASSERT_EQ(set.code, 0) << set.err;
    EXPECT_EQ(set.out.substr(0, 8), "changed\n");
    EXPECT_TRUE(std::filesystem::is_regular_file(folder() + "/calls.xml"))
        << "the local kind creates its file as the page does";

    const Result show = run({"show", "--show-password"});
    EXPECT_EQ(show.code, 0);
    EXPECT_EQ(show.out,
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

    EXPECT_EQ(run({"check"}).code, 0);

    // The same values again, spelled otherwise: the file is not touched.
    const timespec past[2] = {{1000000000, 0}, {1000000000, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, settings().c_str(), past, 0), 0);
    const std::string bytes = read_file_bytes(settings());
    const Result same = run({"set", "CallerID.DbmsTcpPort=3050", "CsleLog=false"});
    EXPECT_EQ(same.code, 0) << same.err;
    EXPECT_EQ(same.out, "unchanged\n");
    struct stat st {};
    ASSERT_EQ(stat(settings().c_str(), &st), 0);
    EXPECT_EQ(st.st_mtim.tv_sec, 1000000000);
    EXPECT_EQ(read_file_bytes(settings()), bytes);
}

// init makes the folder as the sheet does; changing the machine's settings needs root
// or a supervisor.
TEST_F(AdminCommands, InitAndWhoMayChangeTheMachinesSettings) {
    for (int twice = 0; twice < 2; ++twice) {  // an existing folder is fine
        const Result init = run({"init"});
        EXPECT_EQ(init.code, 0) << init.err;
        EXPECT_EQ(init.out, folder() + "\n");
    }
    save_defaults();
    const std::string before = read_file_bytes(settings());
    const bool dropped = geteuid() == 0;
    if (!dropped && IsMemberOfGroup(L"Talvex_Supervisors", nullptr))
        GTEST_SKIP() << "this user is a supervisor and cannot drop to one who is not";
    for (const std::vector<std::string>& args : {std::vector<std::string>{"set", "CsleLog=False"},
                                                 {"init"},
                                                 {"--file", settings(), "set", "CsleLog=False"}}) {
        const Result result = run(args, dropped);
        ASSERT_NE(result.code, CHILD_SKIPPED) << "could not become nobody";
        EXPECT_EQ(result.code, 4) << args.back() << ": " << result.err;
        EXPECT_NE(result.err.find("Talvex_Supervisors"), std::string::npos);
    }
    EXPECT_EQ(read_file_bytes(settings()), before);
    // Another file is the caller's own business: building a workstation image.
    const std::string image = m_io.file("image.INI");
    if (dropped) chmod(m_io.path().c_str(), 0777);
    EXPECT_EQ(run({"--file", image, "set", "CsleLog=False"}, dropped).code, 0);
    EXPECT_EQ(run({"--file", m_io.file("no/such/folder.INI"), "set", "CsleLog=False"}).code, 5);
}

// The connection test with the stored settings against the real server.
TEST_F(AdminCommands, TestConnectionAgainstTheServer) {
    if (!Env("TALVEX_TEST_FB_UNAVAILABLE").empty() || Env("TALVEX_TEST_FB_PORT").empty())
        GTEST_SKIP() << "no Firebird test server: run through scripts/with-test-services";
    ConsoleSettings record;
    record.SetCallerIdDatabaseType(CallerIdDbServer);
    record.SetAdmServer("127.0.0.1");
    record.SetDbmsTcpPort(Env("TALVEX_TEST_FB_PORT"));
    record.SetUserId(Env("TALVEX_TEST_FB_USER"));
    record.SetPassword(Env("TALVEX_TEST_FB_PASSWORD"));
    save(record, settings());
    // The server listens on this namespace's loopback.
    const Result passed = run({"test-connection"}, false, false);
    EXPECT_EQ(passed.code, 0) << passed.out << passed.err;
    EXPECT_EQ(std::count(passed.out.begin(), passed.out.end(), '\n'), 10) << passed.out;
    EXPECT_NE(passed.out.find("All tests completed successfully."), std::string::npos);

    record.SetPassword("wrong");
    save(record, settings());
    const Result refused = run({"test-connection", "--verbose"}, false, false);
    EXPECT_EQ(refused.code, 1);
    EXPECT_NE(refused.out.find("Error: Test failed."), std::string::npos) << refused.out;
    EXPECT_NE(refused.out.find("335544472"), std::string::npos) << refused.out;
}

// docs/fleet's playbook as an administrator runs it: changed, then ok, values in the file.
TEST_F(AdminCommands, TheFleetPlaybookReportsChangedOnlyWhenTheFileChanged) {
    if (system("command -v ansible-playbook >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "ansible-playbook is not installed (scripts/install-deps)";
    setenv("ANSIBLE_HOME", m_io.file("ansible").c_str(), 1);
    setenv("ANSIBLE_LOCAL_TEMP", m_io.file("ansible-tmp").c_str(), 1);
    setenv("ANSIBLE_NOCOLOR", "1", 1);
    setenv("LC_ALL", "C.UTF-8", 1);
    const std::string vars = std::string("talvex_config=") + TALVEX_CONFIG +
                             " talvex_programdata=" + m_data.path().string();
    const std::string playbook = TALVEX_SOURCE_DIR "/docs/fleet/talvex-settings.yml";
    std::vector<std::string> args = {"-i", "localhost,", "-c", "local", "-e", vars, playbook};
    for (const char* summary : {"changed=1", "changed=0 "}) {
        const Result result = run_program("ansible-playbook", args);
        EXPECT_EQ(result.code, 0) << result.out << result.err;
        EXPECT_NE(result.out.find(summary), std::string::npos) << result.out;
    }
    EXPECT_EQ(run({"get", "ADM Server"}).out + run({"get", "DbmsTcpPort"}).out, "adm01\n3050\n");

    args.insert(args.end(), {"-e", "{\"talvex_settings\": [\"DbmsTcpPort=0\"]}"});
    const Result refused = run_program("ansible-playbook", args);
    EXPECT_NE(refused.code, 0) << "a refused value fails the host";
    EXPECT_NE(refused.out.find("failed=1"), std::string::npos) << refused.out;
}

}  // namespace
