#pragma once
// Every key of the settings file with the record's accessors behind it: the one
// place that spells a key, read by the load and the save of the file and by the
// commands that name settings as "Section.Key".

#include <string_view>

#include "code/console_settings.h"

enum class SettingKind {
    Text,            // ADM Server
    Port,            // DbmsTcpPort
    LocalFileName,   // Local_FileName
    UserName,        // UserID
    Password,        // Password
    Authentication,  // Windows, DBMS
    DatabaseType,    // None, Local, Server
    Switch,          // True, False
    Language,        // a language identifier (LANGID)
};

struct SettingKey {
    using GetText = const ConsoleSettings::Text& (ConsoleSettings::*)() const;
    using SetText = void (ConsoleSettings::*)(const ConsoleSettings::Text&);
    using GetSwitch = const bool& (ConsoleSettings::*)() const;
    using Turn = void (ConsoleSettings::*)();

    std::string_view section;
    std::string_view key;
    SettingKind kind;
    // Set for the kinds held as text (Text to Password).
    GetText getText = nullptr;
    SetText setText = nullptr;
    // Set for switches.
    GetSwitch getSwitch = nullptr;
    Turn enable = nullptr;
    Turn disable = nullptr;

    const ConsoleSettings::Text& text(const ConsoleSettings& s) const { return (s.*getText)(); }
    void storeText(ConsoleSettings& s, const ConsoleSettings::Text& v) const { (s.*setText)(v); }
    bool isOn(const ConsoleSettings& s) const { return (s.*getSwitch)(); }
    void turn(ConsoleSettings& s, bool on) const { (s.*(on ? enable : disable))(); }
};

namespace setting_keys {
constexpr SettingKey toggle(std::string_view key, SettingKey::GetSwitch get, SettingKey::Turn on,
                            SettingKey::Turn off) {
    return {"ConsoleOptions", key, SettingKind::Switch, nullptr, nullptr, get, on, off};
}
}  // namespace setting_keys

// Every setting, in the order of the settings file (sections as written, keys by byte).
inline constexpr SettingKey kSettingKeys[] = {
    {"CallerID", "ADM Server", SettingKind::Text, &ConsoleSettings::GetAdmServer,
     &ConsoleSettings::SetAdmServer},
    {"CallerID", "Authentication", SettingKind::Authentication},
    {"CallerID", "CallerIDDatabaseType", SettingKind::DatabaseType},
    {"CallerID", "DbmsTcpPort", SettingKind::Port, &ConsoleSettings::GetDbmsTcpPort,
     &ConsoleSettings::SetDbmsTcpPort},
    {"CallerID", "Local_FileName", SettingKind::LocalFileName, &ConsoleSettings::GetLocalFileName,
     &ConsoleSettings::SetLocalFileName},
    {"CallerID", "Password", SettingKind::Password, &ConsoleSettings::GetPassword,
     &ConsoleSettings::SetPassword},
    {"CallerID", "UserID", SettingKind::UserName, &ConsoleSettings::GetUserId,
     &ConsoleSettings::SetUserId},
    setting_keys::toggle("CsleLog", &ConsoleSettings::GetConsoleLog,
                         &ConsoleSettings::EnableConsoleLog, &ConsoleSettings::DisableConsoleLog),
    {"ConsoleOptions", "Language Locale", SettingKind::Language},
    setting_keys::toggle("SaveActLogToFile", &ConsoleSettings::GetSaveActivityLogToFile,
                         &ConsoleSettings::EnableSaveActivityLogToFile,
                         &ConsoleSettings::DisableSaveActivityLogToFile),
    setting_keys::toggle("SavePageHistToFile", &ConsoleSettings::GetSavePageHistoryToFile,
                         &ConsoleSettings::EnableSavePageHistoryToFile,
                         &ConsoleSettings::DisableSavePageHistoryToFile),
    setting_keys::toggle("Update Date And Time Bios", &ConsoleSettings::GetUpdateDateTimeBios,
                         &ConsoleSettings::EnableUpdateDateTimeBios,
                         &ConsoleSettings::DisableUpdateDateTimeBios),
};
