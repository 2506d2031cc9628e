#include "code/console_settings.h"

ConsoleSettings::ConsoleSettings() { SetDefaults(); }

void ConsoleSettings::SetDefaults() {
    SetAdmServer("");
    SetDbmsTcpPort("52444");
    SetLocalFileName("callerIdLocal.xml");
    SetUserId("AdmDefaultDbUser");
    SetPassword("&Tgn@qlv");
    SetAuthentication(DbmsAuthentication);
    SetCallerIdDatabaseType(CallerIdDbNone);
    EnableConsoleLog();
    SetLanguageLocale(1033);
    EnableSaveActivityLogToFile();
    EnableSavePageHistoryToFile();
    EnableUpdateDateTimeBios();
    m_changed = false;
}
