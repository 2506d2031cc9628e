// The settings file: its exact layout, what a load takes and refuses, and the
// reports of values outside their words.
#include "code/console_setting_parser.h"

#include <gtest/gtest.h>

#include <functional>
#include <sstream>
#include <string>

#include "tests/support/log_capture.h"
#include "tests/support/temp_dir.h"

namespace {

const std::string SEP =
    "# -----------------------------------------------------------------------------";

const std::string DEFAULT_FILE = [] {
    std::string out;
    for (const char* line :
         {SEP.c_str(), "[FileInfo]", "version = 1", SEP.c_str(), "[CallerID]",
          "ADM Server = ", "Authentication = DBMS", "CallerIDDatabaseType = None",
          "DbmsTcpPort = 52444", "Local_FileName = callerIdLocal.xml", "Password = &Tgn@qlv",
          "UserID = AdmDefaultDbUser", SEP.c_str(), "[ConsoleOptions]", "CsleLog = True",
          "Language Locale = 1033", "SaveActLogToFile = True", "SavePageHistToFile = True",
          "Update Date And Time Bios = True"})
        out += std::string(line) + "\r\n";
    return out;
}();

// `text` (the default file unless given) with the line of the key `line` names
// replaced by `line`, or removed when `line` is the bare key.
std::string with(const std::string& line, std::string text = DEFAULT_FILE) {
    const std::string key = line.substr(0, line.find(" = "));
    const size_t at = text.find("\r\n" + key + " = ") + 2;
    EXPECT_NE(at, std::string::npos + 2) << key;
    return text.replace(at, text.find("\r\n", at) + 2 - at, key == line ? "" : line + "\r\n");
}

// Every field of a record, to compare records whole.
std::string describe(const ConsoleSettings& s) {
    std::ostringstream out;
    out << '[' << s.GetAdmServer() << "] [" << s.GetDbmsTcpPort() << "] [" << s.GetLocalFileName()
        << "] [" << s.GetUserId() << "] [" << s.GetPassword() << "] " << s.GetAuthentication()
        << ' ' << s.GetCallerIdDatabaseType() << ' ' << s.GetLanguageLocale() << ' '
        << s.GetConsoleLog() << s.GetSaveActivityLogToFile() << s.GetSavePageHistoryToFile()
        << s.GetUpdateDateTimeBios();
    return out.str();
}

// A record that differs from the defaults in every field.
ConsoleSettings changed_record() {
    ConsoleSettings s;
    s.SetAdmServer("adm-01.example  ");
    s.SetDbmsTcpPort("3050");
    s.SetLocalFileName("other.xml");
    s.SetUserId("supervisor");
    s.SetPassword("p=a:s;s#w\xc3\xb6rd");
    s.SetAuthentication(WindowsAuthentication);
    s.SetCallerIdDatabaseType(CallerIdDbServer);
    s.SetLanguageLocale(4294967295u);
    s.DisableConsoleLog();
    s.DisableSaveActivityLogToFile();
    s.DisableSavePageHistoryToFile();
    s.DisableUpdateDateTimeBios();
    return s;
}

class SettingsFileTest : public ::testing::Test {
protected:
    bool load(const std::string& bytes, ConsoleSettings& s) {
        write_file_bytes(m_path, bytes);
        return LoadConsoleSettings(m_path.c_str(), s);
    }
    TempDir m_dir;
    std::string m_path = m_dir.file("TalvexSettings.INI");
};

TEST_F(SettingsFileTest, SaveThenLoadGivesTheSameRecord) {
    write_file_bytes(m_path,
                     "; mine\r\n[Extra]\r\nk = v\r\n[CallerID]\r\n# note\r\nUserID = x\r\n");
    EXPECT_TRUE(SaveConsoleSettings(m_path.c_str(), ConsoleSettings()));
    EXPECT_EQ(read_file_bytes(m_path), DEFAULT_FILE)
        << "the defaults are the nineteen lines, and nothing of the old file stays";

    ConsoleSettings local;
    local.SetCallerIdDatabaseType(CallerIdDbLocal);
    local.SetAdmServer("  leading");
    ConsoleSettings trimmed = local;
    trimmed.SetAdmServer("leading");  // values are trimmed on the left, not on the right
    for (const auto& [saved, expected] :
         {std::pair{ConsoleSettings(), ConsoleSettings()},
          std::pair{changed_record(), changed_record()}, std::pair{local, trimmed}}) {
        ASSERT_TRUE(SaveConsoleSettings(m_path.c_str(), saved));
        ConsoleSettings loaded;
        EXPECT_TRUE(LoadConsoleSettings(m_path.c_str(), loaded));
        EXPECT_EQ(describe(loaded), describe(expected));
        EXPECT_FALSE(loaded.IsChanged());
    }
}

TEST_F(SettingsFileTest, LoadTakesValidValuesAndReportsInvalidWords) {
    const auto log_off = [](ConsoleSettings& s) { s.DisableConsoleLog(); };
    struct Case {
        std::string file;
        bool ok;
        std::function<void(ConsoleSettings&)> expected = {};  // applied to the defaults
        std::string report = "";
    };
    std::vector<Case> cases = {
        {DEFAULT_FILE, true},
        {with("CsleLog = off"), true, log_off},
        {with("CsleLog = 1"), true},
        {with("CsleLog = yes"), true, log_off},
        {with("CsleLog = ON"), true},
        {with("CsleLog = False"), true, log_off},
        {with("Language Locale = 1031 "), true, [](auto& s) { s.SetLanguageLocale(1031); }},
        {with("UserID = x"), true, [](auto& s) { s.SetUserId("x"); }},
        // A word of another case or with a trailing blank is invalid and keeps the default.
        {with("Authentication = dbms"), false, {}, "Authentication:dbms"},
        {with("Authentication = Windows "), false, {}, "Authentication:Windows "},
        {with("CallerIDDatabaseType = Remote"), false, {}, "CallerIDDatabaseType:Remote"},
        // A wrong version, a missing key or a number that is no number: the load
        // fails, the value keeps its default.
        {with("version = 2"), false},
        {with("version = x1"), false},
        {with("UserID = someone").substr(DEFAULT_FILE.find(SEP, 1)), false,  // no [FileInfo]
         [](auto& s) { s.SetUserId("someone"); }},
        // A file with duplicates is not used at all.
        {with("UserID = first\r\nUserID = second"), false},
        {"garbage", false},
        {std::string("[\xfe]\n\x01\xff=\x80\0\n\0=\0", 13), false},
        {"", false},
    };
    for (const char* key :
         {"ADM Server", "Authentication", "CsleLog", "Language Locale", "Password"})
        cases.push_back({with(key), false});
    for (const char* bad : {"x12", "", "-1", "4294967296"})
        cases.push_back({with(std::string("Language Locale = ") + bad), false});

    for (const Case& c : cases) {
        SCOPED_TRACE(c.file.substr(0, 200));
        ConsoleSettings expected;
        if (c.expected) c.expected(expected);
        LogCapture log;
        ConsoleSettings s = changed_record();  // a load replaces every field
        EXPECT_EQ(load(c.file, s), c.ok);
        EXPECT_EQ(describe(s), describe(expected));
        EXPECT_FALSE(s.IsChanged()) << "loading never leaves the record changed";
        const size_t colon = c.report.find(':');
        EXPECT_EQ(log.messages(),
                  c.report.empty()
                      ? std::vector<std::string>{}
                      : std::vector{"An invalid value for " + c.report.substr(0, colon) +
                                    " has been read from the Talvex settings file: " +
                                    c.report.substr(colon + 1)});
    }
}

// A value the file cannot hold stops the save before anything is written.
TEST_F(SettingsFileTest, ValuesTheFileCannotHoldLeaveTheOldFileWhole) {
    const std::string old_file = with("UserID = old");
    ConsoleSettings out_of_range, two_lines;
    out_of_range.SetCallerIdDatabaseType(static_cast<CallerIdDatabaseType>(3));
    two_lines.SetUserId("two\nlines");
    const std::pair<const ConsoleSettings*, std::string> cases[] = {
        {&out_of_range, "Unexpected value for the setting CallerIDDatabaseType Value=3"},
        {&two_lines, "The setting UserID cannot be stored in the Talvex settings file"}};
    for (const auto& [record, report] : cases) {
        write_file_bytes(m_path, old_file);
        LogCapture log;
        EXPECT_FALSE(SaveConsoleSettings(m_path.c_str(), *record));
        EXPECT_EQ(log.messages(), std::vector<std::string>{report});
        EXPECT_EQ(read_file_bytes(m_path), old_file);
    }
}

// The first reason a load did not use the whole file, for people.
TEST_F(SettingsFileTest, LoadReportNamesTheFirstProblem) {
    const std::string missing = "<missing>", link = "<link>";
    const std::tuple<std::string, bool, bool, std::string> cases[] = {
        {DEFAULT_FILE, true, true, ""},
        {missing, false, false, "The file does not exist."},
        {link, false, true, "The file is a symbolic link."},
        {"Password = stray\r\n" + with("Password = inside"), true, true,
         "Line 1: the key \"Password\" stands outside any section and was ignored."},
        {with("UserID = first\r\nUserID = second"), false, true,
         "Line 13: the key \"UserID\" appears twice in [CallerID]."},
        {DEFAULT_FILE + "[FileInfo]\r\n", false, true,
         "Line 20: the section [FileInfo] appears twice."},
        {with("version"), false, true, "The key \"version\" is missing from [FileInfo]."},
        {with("Authentication = dbms"), false, true,
         "Line 7: \"dbms\" is not a valid value of \"Authentication\" in [CallerID]."},
    };
    for (const auto& [file, ok, exists, reason] : cases) {
        SCOPED_TRACE(file);
        std::filesystem::remove(m_path);
        if (file == link) {
            std::filesystem::create_symlink(m_dir.file("elsewhere"), m_path);
        } else if (file != missing) {
            write_file_bytes(m_path, file);
        }
        ConsoleSettings s;
        SettingsLoadReport report{true, "stale"};
        EXPECT_EQ(LoadConsoleSettings(m_path.c_str(), s, &report), ok);
        EXPECT_EQ(report.fileExists, exists);
        EXPECT_EQ(report.reason, reason);
    }
}

}  // namespace
