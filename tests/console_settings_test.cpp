// The record's changed flag. The defaults themselves show in the settings file a
// new record saves (console_setting_parser_test).
#include "code/console_settings.h"

#include <gtest/gtest.h>

namespace {

// Each writer moves its field off the default; storing the held value is no change,
// and once set the flag stays until SetDefaults, which puts every field back.
TEST(ConsoleSettings, OnlyADifferentValueSetsTheFlagAndItSticks) {
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
        EXPECT_TRUE(s.IsChanged()) << i;
        s.SetDefaults();
        EXPECT_FALSE(s.IsChanged()) << i;
    }
    ConsoleSettings s;
    s.SetDbmsTcpPort("52444");
    s.EnableConsoleLog();
    s.SetAuthentication(DbmsAuthentication);
    s.SetLanguageLocale(1033);
    EXPECT_FALSE(s.IsChanged()) << "storing the held value is no change";
    s.SetDbmsTcpPort("3050");
    s.SetDbmsTcpPort("52444");
    EXPECT_TRUE(s.IsChanged()) << "putting the old value back does not clear it";
}

}  // namespace
