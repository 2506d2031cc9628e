// The settings file: its exact layout, what a load takes and refuses, and why; the
// record's changed flag.
#include "code/console_setting_parser.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <tuple>

#include "tests/support/ini_text.h"
#include "tests/support/log_capture.h"
#include "tests/support/temp_dir.h"

namespace {

const std::string DEFAULT_FILE = ini_lines(
    "---\n[FileInfo]\nversion = 1\n---\n[CallerID]\nADM Server = \nAuthentication = DBMS\n"
    "CallerIDDatabaseType = None\nDbmsTcpPort = 52444\nLocal_FileName = callerIdLocal.xml\n"
    "Password = &Tgn@qlv\nUserID = AdmDefaultDbUser\n---\n[ConsoleOptions]\nCsleLog = True\n"
    "Language Locale = 1033\nSaveActLogToFile = True\nSavePageHistToFile = True\n"
    "Update Date And Time Bios = True\n");

// The default file with the line of the key `line` names replaced by `line`, or
// removed when `line` is the bare key.
std::string with(const std::string& line) {
    std::string text = DEFAULT_FILE;
    const std::string key = line.substr(0, line.find(" = "));
    const size_t at = text.find("\r\n" + key + " = ") + 2;
    EXPECT_NE(at, std::string::npos + 2) << key;
    return text.replace(at, text.find("\r\n", at) + 2 - at, key == line ? "" : line + "\r\n");
}

// Every field of a record, to compare records whole.
auto describe(const ConsoleSettings& s) {
    return std::make_tuple(s.GetAdmServer(), s.GetDbmsTcpPort(), s.GetLocalFileName(),
                           s.GetUserId(), s.GetPassword(), s.GetAuthentication(),
                           s.GetCallerIdDatabaseType(), s.GetLanguageLocale(), s.GetConsoleLog(),
                           s.GetSaveActivityLogToFile(), s.GetSavePageHistoryToFile(),
                           s.GetUpdateDateTimeBios());
}

class SettingsFileTest : public ::testing::Test {
protected:
    TempDir m_dir;
    std::string m_path = m_dir.file("TalvexSettings.INI");
};

TEST_F(SettingsFileTest, SaveThenLoadGivesTheSameRecord) {
    write_file_bytes(m_path,
                     "; mine\r\n[Extra]\r\nk = v\r\n[CallerID]\r\n# note\r\nUserID = x\r\n");
    EXPECT_TRUE(SaveConsoleSettings(m_path.c_str(), ConsoleSettings()));
    EXPECT_EQ(read_file_bytes(m_path), DEFAULT_FILE)
        << "the defaults are the nineteen lines, and nothing of the old file stays";

    // Every field of a record set as the sheet sets it: admin_commands_test.
    ConsoleSettings record, loaded;
    record.SetPassword("p=a:s;s#w\xc3\xb6rd  ");
    record.SetLanguageLocale(4294967295u);
    ASSERT_TRUE(SaveConsoleSettings(m_path.c_str(), record));
    EXPECT_TRUE(LoadConsoleSettings(m_path.c_str(), loaded));
    EXPECT_EQ(describe(loaded), describe(record));
}

// What a load takes, and the first reason it did not use the whole file ("-": not
// checked). An invalid word is also logged.
TEST_F(SettingsFileTest, LoadTakesValidValuesAndNamesTheFirstProblem) {
    const std::string missing = "<missing>", link = "<link>";
    struct Case {
        std::string file;
        bool ok;
        std::string reason = "-";
        std::function<void(ConsoleSettings&)> expected = {};  // applied to the defaults
        std::string logged = "";
    };
    // A word of another case or with a trailing blank is invalid and keeps the default.
    const auto invalid = [&](int line, const std::string& key, const std::string& word) {
        return Case{with(key + " = " + word), false,
                    "Line " + std::to_string(line) + ": \"" + word +
                        "\" is not a valid value of \"" + key + "\" in [CallerID].",
                    nullptr,
                    "An invalid value for " + key +
                        " has been read from the Talvex settings file: " + word};
    };
    std::vector<Case> cases = {
        {DEFAULT_FILE, true, ""},
        {with("CsleLog = off"), true, "-", [](auto& s) { s.DisableConsoleLog(); }},
        // Key lines before the first header or under "[ ]" are dropped and logged
        // once; the rest is used.
        {"Password = stray\r\n" + with("UserID = x\r\n[ ]\r\nUserID = y"), true,
         "Line 1: the key \"Password\" stands outside any section and was ignored.",
         [](auto& s) { s.SetUserId("x"); },
         "2 key line(s) outside any section ignored in ini file [" + m_path +
             "], the first at line 1"},
        invalid(7, "Authentication", "dbms"),
        invalid(7, "Authentication", "Windows "),
        invalid(8, "CallerIDDatabaseType", "Remote"),
        // A wrong version, a missing key or a number that is no number: the load
        // fails, the value keeps its default.
        {with("version = 2"), false, "Line 3: the key \"version\" in [FileInfo] does not hold 1."},
        {with("version"), false, "The key \"version\" is missing from [FileInfo]."},
        {with("UserID = someone").substr(DEFAULT_FILE.find(kIniSeparator, 1)), false, "-",
         [](auto& s) { s.SetUserId("someone"); }},  // no [FileInfo]
        // A file with duplicates is not used at all.
        {with("UserID = first\r\nUserID = second"), false,
         "Line 13: the key \"UserID\" appears twice in [CallerID]."},
        {DEFAULT_FILE + "[FileInfo]\r\n", false, "Line 20: the section [FileInfo] appears twice."},
        {with("Language Locale = -1"), false,
         "Line 16: the key \"Language Locale\" in [ConsoleOptions] holds no number."},
        {missing, false, "The file does not exist."},
        {link, false, "The file is a symbolic link.", nullptr,
         "Refused to read ini file [" + m_path + "]: it is a symbolic link"},
    };
    for (const char* key : {"ADM Server", "Authentication", "CsleLog", "Language Locale"})
        cases.push_back({with(key), false});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file.substr(0, 200));
        std::filesystem::remove(m_path);
        if (c.file == link)
            std::filesystem::create_symlink(m_dir.file("elsewhere"), m_path);
        else if (c.file != missing)
            write_file_bytes(m_path, c.file);
        ConsoleSettings expected;
        if (c.expected) c.expected(expected);
        LogCapture log;
        ConsoleSettings s;
        s.SetAdmServer("stale");  // a load starts from the defaults
        SettingsLoadReport report{c.file != missing, "stale"};
        EXPECT_EQ(LoadConsoleSettings(m_path.c_str(), s, &report), c.ok);
        EXPECT_EQ(describe(s), describe(expected));
        EXPECT_FALSE(s.IsChanged()) << "loading never leaves the record changed";
        EXPECT_TRUE(c.reason == "-" || report.reason == c.reason) << report.reason;
        EXPECT_EQ(report.fileExists, c.file != missing);
        EXPECT_EQ(log.messages(), c.logged.empty() ? std::vector<std::string>{}
                                                   : std::vector<std::string>{c.logged});
    }
}

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

// Each writer of a caller-ID field sets the flag (those of the console options, and
// storing the held value: console_options_page_test). Once set, the flag stays even
// when the old value is put back.
TEST(ConsoleSettings, ADifferentValueSetsTheFlagAndItSticks) {
    for (const auto set : {&ConsoleSettings::SetAdmServer, &ConsoleSettings::SetDbmsTcpPort,
                           &ConsoleSettings::SetLocalFileName, &ConsoleSettings::SetPassword,
                           &ConsoleSettings::SetUserId}) {
        ConsoleSettings s;
        (s.*set)("x");
        EXPECT_TRUE(s.IsChanged());
    }
    ConsoleSettings a, t, s;
    a.SetAuthentication(WindowsAuthentication);
    t.SetCallerIdDatabaseType(CallerIdDbServer);
    EXPECT_TRUE(a.IsChanged() && t.IsChanged());
    s.SetDbmsTcpPort("3050");
    s.SetDbmsTcpPort("52444");
    EXPECT_TRUE(s.IsChanged()) << "putting the old value back does not clear it";
}

}  // namespace
