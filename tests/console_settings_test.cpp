#include "code/console_settings.h"

#include <gtest/gtest.h>

namespace {

TEST(ConsoleSettings, NewRecordHoldsTheDefaultsUnchanged) {
    const ConsoleSettings s;
    EXPECT_EQ(s.GetAdmServer(), "");
    EXPECT_EQ(s.GetDbmsTcpPort(), "52444");
    EXPECT_EQ(s.GetLocalFileName(), "callerIdLocal.xml");
    EXPECT_EQ(s.GetUserId(), "AdmDefaultDbUser");
    EXPECT_EQ(s.GetPassword(), "&Tgn@qlv");
    EXPECT_EQ(s.GetAuthentication(), DbmsAuthentication);
    EXPECT_EQ(s.GetCallerIdDatabaseType(), CallerIdDbNone);
    EXPECT_EQ(s.GetLanguageLocale(), 1033u);
    EXPECT_TRUE(s.GetConsoleLog());
    EXPECT_TRUE(s.GetSaveActivityLogToFile());
    EXPECT_TRUE(s.GetSavePageHistoryToFile());
    EXPECT_TRUE(s.GetUpdateDateTimeBios());
    EXPECT_FALSE(s.IsChanged());
}

TEST(ConsoleSettings, StoringTheHeldValueIsNoChange) {
    ConsoleSettings s;
    s.SetDbmsTcpPort("52444");
    s.EnableConsoleLog();
    s.SetAuthentication(DbmsAuthentication);
    s.SetLanguageLocale(1033);
    EXPECT_FALSE(s.IsChanged());
}

TEST(ConsoleSettings, ChangeFlagIsStickyUntilDefaults) {
    ConsoleSettings s;
    s.SetDbmsTcpPort("3050");
    EXPECT_TRUE(s.IsChanged());
    s.SetDbmsTcpPort("52444");
    EXPECT_TRUE(s.IsChanged()) << "putting the old value back must not clear the flag";
    EXPECT_EQ(s.GetDbmsTcpPort(), "52444");
    s.SetDefaults();
    EXPECT_FALSE(s.IsChanged());
}

TEST(ConsoleSettings, EveryWriterAppliesTheChangeRule) {
    using Writer = void (*)(ConsoleSettings&);
    const Writer writers[] = {
        [](ConsoleSettings& s) { s.SetAdmServer("adm"); },
        [](ConsoleSettings& s) { s.SetDbmsTcpPort("1"); },
        [](ConsoleSettings& s) { s.SetLocalFileName("x.xml"); },
        [](ConsoleSettings& s) { s.SetPassword("p"); },
        [](ConsoleSettings& s) { s.SetUserId("u"); },
        [](ConsoleSettings& s) { s.SetAuthentication(WindowsAuthentication); },
        [](ConsoleSettings& s) { s.SetCallerIdDatabaseType(CallerIdDbServer); },
        [](ConsoleSettings& s) { s.SetLanguageLocale(1036); },
        [](ConsoleSettings& s) { s.DisableConsoleLog(); },
        [](ConsoleSettings& s) { s.DisableSaveActivityLogToFile(); },
        [](ConsoleSettings& s) { s.DisableSavePageHistoryToFile(); },
        [](ConsoleSettings& s) { s.DisableUpdateDateTimeBios(); },
    };
    for (size_t i = 0; i < std::size(writers); ++i) {
        ConsoleSettings s;
        writers[i](s);
        EXPECT_TRUE(s.IsChanged()) << "writer " << i;
    }
}

TEST(ConsoleSettings, SetDefaultsRestoresEveryField) {
    ConsoleSettings s;
    s.SetAdmServer("adm");
    s.SetDbmsTcpPort("1");
    s.SetLocalFileName("x.xml");
    s.SetPassword("p");
    s.SetUserId("u");
    s.SetAuthentication(WindowsAuthentication);
    s.SetCallerIdDatabaseType(CallerIdDbLocal);
    s.SetLanguageLocale(1031);
    s.DisableConsoleLog();
    s.DisableSaveActivityLogToFile();
    s.DisableSavePageHistoryToFile();
    s.DisableUpdateDateTimeBios();
    s.SetDefaults();
    const ConsoleSettings fresh;
    EXPECT_EQ(s.GetAdmServer(), fresh.GetAdmServer());
    EXPECT_EQ(s.GetDbmsTcpPort(), fresh.GetDbmsTcpPort());
    EXPECT_EQ(s.GetLocalFileName(), fresh.GetLocalFileName());
    EXPECT_EQ(s.GetPassword(), fresh.GetPassword());
    EXPECT_EQ(s.GetUserId(), fresh.GetUserId());
    EXPECT_EQ(s.GetAuthentication(), fresh.GetAuthentication());
    EXPECT_EQ(s.GetCallerIdDatabaseType(), fresh.GetCallerIdDatabaseType());
    EXPECT_EQ(s.GetLanguageLocale(), fresh.GetLanguageLocale());
    EXPECT_TRUE(s.GetConsoleLog() && s.GetSaveActivityLogToFile() && s.GetSavePageHistoryToFile() &&
                s.GetUpdateDateTimeBios());
    EXPECT_FALSE(s.IsChanged());
}

}  // namespace
