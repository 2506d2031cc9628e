#include "code/console_settings.h"

#include <gtest/gtest.h>

#include <tuple>

namespace {

auto fields(const ConsoleSettings& s) {
    return std::make_tuple(s.GetAdmServer(), s.GetDbmsTcpPort(), s.GetLocalFileName(),
                           s.GetUserId(), s.GetPassword(), s.GetAuthentication(),
                           s.GetCallerIdDatabaseType(), s.GetLanguageLocale(), s.GetConsoleLog(),
                           s.GetSaveActivityLogToFile(), s.GetSavePageHistoryToFile(),
                           s.GetUpdateDateTimeBios());
}

TEST(ConsoleSettings, NewRecordHoldsTheDefaultsUnchanged) {
    const ConsoleSettings s;
    EXPECT_EQ(fields(s),
              std::make_tuple("", "52444", "callerIdLocal.xml", "AdmDefaultDbUser", "&Tgn@qlv",
                              DbmsAuthentication, CallerIdDbNone, 1033u, true, true, true, true));
    EXPECT_FALSE(s.IsChanged());
}

TEST(ConsoleSettings, OnlyADifferentValueSetsTheFlagAndItSticks) {
    ConsoleSettings s;
    s.SetDbmsTcpPort("52444");
    s.EnableConsoleLog();
    s.SetAuthentication(DbmsAuthentication);
    s.SetLanguageLocale(1033);
    EXPECT_FALSE(s.IsChanged()) << "storing the held value is no change";
    s.SetDbmsTcpPort("3050");
    EXPECT_TRUE(s.IsChanged());
    s.SetDbmsTcpPort("52444");
    s.SetDbmsTcpPort("52444");
    EXPECT_TRUE(s.IsChanged())
        << "neither putting the old value back nor storing it again clears it";
}

TEST(ConsoleSettings, EveryWriterSetsTheFlagAndSetDefaultsUndoesIt) {
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
    const ConsoleSettings fresh;
    for (size_t i = 0; i < std::size(writers); ++i) {
        SCOPED_TRACE(i);
        ConsoleSettings s;
        writers[i](s);
        EXPECT_TRUE(s.IsChanged());
        EXPECT_NE(fields(s), fields(fresh));
        s.SetDefaults();
        EXPECT_EQ(fields(s), fields(fresh));
        EXPECT_FALSE(s.IsChanged());
    }
}

}  // namespace
