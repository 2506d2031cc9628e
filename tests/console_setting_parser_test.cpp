// The settings file: its exact layout, what a load takes and refuses, and the
// reports of values outside their words.
#include "code/console_setting_parser.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/support/log_capture.h"
#include "tests/support/temp_dir.h"

namespace {

const std::string SEP =
    "# -----------------------------------------------------------------------------";

std::string lines(std::initializer_list<std::string> list) {
    std::string out;
    for (const std::string& line : list) out += line + "\r\n";
    return out;
}

const std::string DEFAULT_FILE = lines(
    {SEP, "[FileInfo]", "version = 1", SEP, "[CallerID]", "ADM Server = ", "Authentication = DBMS",
     "CallerIDDatabaseType = None", "DbmsTcpPort = 52444", "Local_FileName = callerIdLocal.xml",
     "Password = &Tgn@qlv", "UserID = AdmDefaultDbUser", SEP, "[ConsoleOptions]", "CsleLog = True",
     "Language Locale = 1033", "SaveActLogToFile = True", "SavePageHistToFile = True",
     "Update Date And Time Bios = True"});

// The default file with one line replaced (or removed, when `to` is empty).
std::string default_file_with(const std::string& from, const std::string& to) {
    std::string text = DEFAULT_FILE;
    const size_t at = text.find(from + "\r\n");
    EXPECT_NE(at, std::string::npos) << from;
    text.replace(at, from.size() + 2, to.empty() ? "" : to + "\r\n");
    return text;
}

void expect_defaults(const ConsoleSettings& s) {
    const ConsoleSettings d;
    EXPECT_EQ(s.GetAdmServer(), d.GetAdmServer());
    EXPECT_EQ(s.GetDbmsTcpPort(), d.GetDbmsTcpPort());
    EXPECT_EQ(s.GetLocalFileName(), d.GetLocalFileName());
    EXPECT_EQ(s.GetUserId(), d.GetUserId());
    EXPECT_EQ(s.GetPassword(), d.GetPassword());
    EXPECT_EQ(s.GetAuthentication(), d.GetAuthentication());
    EXPECT_EQ(s.GetCallerIdDatabaseType(), d.GetCallerIdDatabaseType());
    EXPECT_EQ(s.GetLanguageLocale(), d.GetLanguageLocale());
    EXPECT_EQ(s.GetConsoleLog(), d.GetConsoleLog());
    EXPECT_EQ(s.GetSaveActivityLogToFile(), d.GetSaveActivityLogToFile());
    EXPECT_EQ(s.GetSavePageHistoryToFile(), d.GetSavePageHistoryToFile());
    EXPECT_EQ(s.GetUpdateDateTimeBios(), d.GetUpdateDateTimeBios());
    EXPECT_FALSE(s.IsChanged());
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

TEST_F(SettingsFileTest, DefaultsSaveAsTheNineteenLines) {
    const ConsoleSettings s;
    EXPECT_TRUE(SaveConsoleSettings(m_path.c_str(), s));
    EXPECT_EQ(read_file_bytes(m_path), DEFAULT_FILE);
    ConsoleSettings loaded;
    EXPECT_TRUE(LoadConsoleSettings(m_path.c_str(), loaded));
    expect_defaults(loaded);
}

TEST_F(SettingsFileTest, SaveThenLoadGivesTheSameRecord) {
    const ConsoleSettings saved = changed_record();
    ASSERT_TRUE(SaveConsoleSettings(m_path.c_str(), saved));
    ConsoleSettings s;
    EXPECT_TRUE(LoadConsoleSettings(m_path.c_str(), s));
    EXPECT_EQ(s.GetAdmServer(), saved.GetAdmServer()) << "trailing blanks kept";
    EXPECT_EQ(s.GetDbmsTcpPort(), saved.GetDbmsTcpPort());
    EXPECT_EQ(s.GetLocalFileName(), saved.GetLocalFileName());
    EXPECT_EQ(s.GetUserId(), saved.GetUserId());
    EXPECT_EQ(s.GetPassword(), saved.GetPassword());
    EXPECT_EQ(s.GetAuthentication(), WindowsAuthentication);
    EXPECT_EQ(s.GetCallerIdDatabaseType(), CallerIdDbServer);
    EXPECT_EQ(s.GetLanguageLocale(), 4294967295u);
    EXPECT_FALSE(s.GetConsoleLog());
    EXPECT_FALSE(s.GetSaveActivityLogToFile());
    EXPECT_FALSE(s.GetSavePageHistoryToFile());
    EXPECT_FALSE(s.GetUpdateDateTimeBios());
    EXPECT_FALSE(s.IsChanged());

    ConsoleSettings local;
    local.SetCallerIdDatabaseType(CallerIdDbLocal);
    local.SetAdmServer("  leading");
    ASSERT_TRUE(SaveConsoleSettings(m_path.c_str(), local));
    EXPECT_TRUE(LoadConsoleSettings(m_path.c_str(), s));
    EXPECT_EQ(s.GetCallerIdDatabaseType(), CallerIdDbLocal);
    EXPECT_EQ(s.GetAdmServer(), "leading") << "values are trimmed on the left";
}

TEST_F(SettingsFileTest, MissingKeysKeepTheirDefaultsAndFailTheLoad) {
    ConsoleSettings s;
    const std::string changed = default_file_with("UserID = AdmDefaultDbUser", "UserID = someone");
    EXPECT_FALSE(load(changed.substr(changed.find(SEP, 1)), s)) << "no FileInfo section";
    EXPECT_EQ(s.GetUserId(), "someone") << "every other value is still taken";

    EXPECT_FALSE(load(default_file_with("version = 1", "version = 2"), s));
    EXPECT_EQ(s.GetLanguageLocale(), 1033u);
    for (const char* line : {"ADM Server = ", "Authentication = DBMS", "CsleLog = True",
                             "Language Locale = 1033", "Password = &Tgn@qlv"}) {
        ConsoleSettings one;
        EXPECT_FALSE(load(default_file_with(line, ""), one)) << line;
        expect_defaults(one);
    }
}

TEST_F(SettingsFileTest, InvalidWordsAreReportedAndKeepTheDefault) {
    LogCapture log;
    ConsoleSettings s;
    EXPECT_FALSE(load(default_file_with("Authentication = DBMS", "Authentication = dbms"), s));
    EXPECT_EQ(s.GetAuthentication(), DbmsAuthentication);
    EXPECT_FALSE(load(default_file_with("Authentication = DBMS", "Authentication = Windows "), s));
    EXPECT_EQ(s.GetAuthentication(), DbmsAuthentication) << "a trailing blank makes it invalid";
    EXPECT_FALSE(
        load(default_file_with("CallerIDDatabaseType = None", "CallerIDDatabaseType = Remote"), s));
    EXPECT_EQ(s.GetCallerIdDatabaseType(), CallerIdDbNone);
    EXPECT_EQ(log.messages(),
              (std::vector<std::string>{
                  "An invalid value for Authentication has been read from the Talvex settings "
                  "file: dbms",
                  "An invalid value for Authentication has been read from the Talvex settings "
                  "file: Windows ",
                  "An invalid value for CallerIDDatabaseType has been read from the Talvex "
                  "settings file: Remote"}));
}

TEST_F(SettingsFileTest, SwitchWordsAndNumbers) {
    const std::vector<std::pair<std::string, bool>> words = {
        {"off", false}, {"1", true}, {"yes", false}, {"ON", true}, {"False", false}};
    for (const auto& [word, expected] : words) {
        ConsoleSettings s;
        EXPECT_TRUE(load(default_file_with("CsleLog = True", "CsleLog = " + word), s)) << word;
        EXPECT_EQ(s.GetConsoleLog(), expected) << word;
    }
    ConsoleSettings s;
    EXPECT_TRUE(load(default_file_with("Language Locale = 1033", "Language Locale = 1031 "), s));
    EXPECT_EQ(s.GetLanguageLocale(), 1031u);
    for (const char* bad : {"12abc", "", "-1", "4294967296", "0x409"}) {
        ConsoleSettings t;
        EXPECT_FALSE(load(
            default_file_with("Language Locale = 1033", std::string("Language Locale = ") + bad),
            t))
            << bad;
        EXPECT_EQ(t.GetLanguageLocale(), 1033u) << bad << " counts as missing";
    }
    EXPECT_FALSE(load(default_file_with("version = 1", "version = 1x"), s));
}

TEST_F(SettingsFileTest, AFileWithDuplicatesOrStrayLinesIsNotUsed) {
    ConsoleSettings s;
    EXPECT_FALSE(load(
        default_file_with("UserID = AdmDefaultDbUser", "UserID = first\r\nUserID = second"), s));
    expect_defaults(s);
    EXPECT_FALSE(load(
        "Password = stray\r\n" + default_file_with("Password = &Tgn@qlv", "Password = inside"), s));
    expect_defaults(s);
}

TEST_F(SettingsFileTest, LoadNeverLeavesTheRecordChanged) {
    for (const std::string& bytes :
         {DEFAULT_FILE, default_file_with("UserID = AdmDefaultDbUser", "UserID = x"),
          std::string("garbage"), std::string()}) {
        ConsoleSettings s = changed_record();
        ASSERT_TRUE(s.IsChanged());
        load(bytes, s);
        EXPECT_FALSE(s.IsChanged());
    }
    ConsoleSettings s = changed_record();
    EXPECT_FALSE(LoadConsoleSettings(m_dir.file("missing.ini").c_str(), s));
    expect_defaults(s);
}

TEST_F(SettingsFileTest, SaveReplacesTheWholeFile) {
    write_file_bytes(m_path,
                     "; mine\r\n[Extra]\r\nk = v\r\n[CallerID]\r\n# note\r\nUserID = x\r\n");
    EXPECT_TRUE(SaveConsoleSettings(m_path.c_str(), ConsoleSettings()));
    EXPECT_EQ(read_file_bytes(m_path), DEFAULT_FILE);
}

TEST_F(SettingsFileTest, ValuesOutsideTheirEnumerationAreLeftOutAndReported) {
    ConsoleSettings s;
    s.SetCallerIdDatabaseType(static_cast<CallerIdDatabaseType>(3));
    s.SetAuthentication(static_cast<AuthenticationMethod>(-2));
    LogCapture log;
    EXPECT_FALSE(SaveConsoleSettings(m_path.c_str(), s));
    EXPECT_EQ(log.messages(),
              (std::vector<std::string>{"Unexpected value for the setting Authentication Value=-2",
                                        "Unexpected value for the setting CallerIDDatabaseType "
                                        "Value=3"}));
    std::string expected = default_file_with("Authentication = DBMS", "");
    expected = expected.substr(0, expected.find("CallerIDDatabaseType")) +
               expected.substr(expected.find("DbmsTcpPort"));
    EXPECT_EQ(read_file_bytes(m_path), expected) << "the rest is written";

    ConsoleSettings t;
    t.SetAdmServer("two\nlines");
    EXPECT_FALSE(SaveConsoleSettings(m_path.c_str(), t)) << "a text the file cannot hold";
    ConsoleSettings back;
    EXPECT_FALSE(LoadConsoleSettings(m_path.c_str(), back)) << "the key is missing";
    EXPECT_EQ(back.GetAdmServer(), "");
}

}  // namespace
