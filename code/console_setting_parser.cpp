#include "code/console_setting_parser.h"

#include <string>

#include "code/configparser.h"
#include "code/syserrx.h"

namespace {

const std::string FILE_INFO = "FileInfo";
const std::string CALLER_ID = "CallerID";
const std::string CONSOLE_OPTIONS = "ConsoleOptions";
constexpr unsigned int FILE_VERSION = 1;

struct TextKey {
    const char* key;
    const ConsoleSettings::Text& (ConsoleSettings::*get)() const;
    void (ConsoleSettings::*set)(const ConsoleSettings::Text&);
};

// In the order a save stores them.
const TextKey TEXT_KEYS[] = {
    {"ADM Server", &ConsoleSettings::GetAdmServer, &ConsoleSettings::SetAdmServer},
    {"DbmsTcpPort", &ConsoleSettings::GetDbmsTcpPort, &ConsoleSettings::SetDbmsTcpPort},
    {"Local_FileName", &ConsoleSettings::GetLocalFileName, &ConsoleSettings::SetLocalFileName},
    {"UserID", &ConsoleSettings::GetUserId, &ConsoleSettings::SetUserId},
    {"Password", &ConsoleSettings::GetPassword, &ConsoleSettings::SetPassword},
};

struct SwitchKey {
    const char* key;
    const bool& (ConsoleSettings::*get)() const;
    void (ConsoleSettings::*enable)();
    void (ConsoleSettings::*disable)();
};

const SwitchKey SWITCH_KEYS[] = {
    {"CsleLog", &ConsoleSettings::GetConsoleLog, &ConsoleSettings::EnableConsoleLog,
     &ConsoleSettings::DisableConsoleLog},
    {"SaveActLogToFile", &ConsoleSettings::GetSaveActivityLogToFile,
     &ConsoleSettings::EnableSaveActivityLogToFile, &ConsoleSettings::DisableSaveActivityLogToFile},
    {"SavePageHistToFile", &ConsoleSettings::GetSavePageHistoryToFile,
     &ConsoleSettings::EnableSavePageHistoryToFile, &ConsoleSettings::DisableSavePageHistoryToFile},
    {"Update Date And Time Bios", &ConsoleSettings::GetUpdateDateTimeBios,
     &ConsoleSettings::EnableUpdateDateTimeBios, &ConsoleSettings::DisableUpdateDateTimeBios},
};

const char* authentication_word(AuthenticationMethod method) {
    switch (method) {
        case WindowsAuthentication:
            return "Windows";
        case DbmsAuthentication:
            return "DBMS";
    }
    return nullptr;
}

const char* database_type_word(CallerIdDatabaseType type) {
    switch (type) {
        case CallerIdDbNone:
            return "None";
        case CallerIdDbLocal:
            return "Local";
        case CallerIdDbServer:
            return "Server";
    }
    return nullptr;
}

bool load_values(const ConfigParser& parser, ConsoleSettings& settings) {
    unsigned int version = 0;
    bool result = parser.get(FILE_INFO, "version", version) && version == FILE_VERSION;

    for (const TextKey& entry : TEXT_KEYS) {
        std::string value;
        if (parser.get(CALLER_ID, entry.key, value)) {
            (settings.*entry.set)(value);
        } else {
            result = false;
        }
    }

    std::string word;
    if (parser.get(CALLER_ID, "Authentication", word)) {
        if (word == "Windows") {
            settings.SetAuthentication(WindowsAuthentication);
        } else if (word == "DBMS") {
            settings.SetAuthentication(DbmsAuthentication);
        } else {
            syserr_report(
                SYSERR_FILE, __LINE__, 4,
                L"An invalid value for Authentication has been read from the Talvex settings "
                L"file: %s",
                word.c_str());
            result = false;
        }
    } else {
        result = false;
    }

    if (parser.get(CALLER_ID, "CallerIDDatabaseType", word)) {
        if (word == "None") {
            settings.SetCallerIdDatabaseType(CallerIdDbNone);
        } else if (word == "Local") {
            settings.SetCallerIdDatabaseType(CallerIdDbLocal);
        } else if (word == "Server") {
            settings.SetCallerIdDatabaseType(CallerIdDbServer);
        } else {
            syserr_report(SYSERR_FILE, __LINE__, 4,
                          L"An invalid value for CallerIDDatabaseType has been read from the "
                          L"Talvex settings file: %s",
                          word.c_str());
            result = false;
        }
    } else {
        result = false;
    }

    for (const SwitchKey& entry : SWITCH_KEYS) {
        bool on = false;
        if (parser.get_bool(CONSOLE_OPTIONS, entry.key, on)) {
            (settings.*(on ? entry.enable : entry.disable))();
        } else {
            result = false;
        }
    }

    unsigned int locale = 0;
    if (parser.get(CONSOLE_OPTIONS, "Language Locale", locale)) {
        settings.SetLanguageLocale(locale);
    } else {
        result = false;
    }
    return result;
}

}  // namespace

bool LoadConsoleSettings(const char* path, ConsoleSettings& settings) {
    settings.SetDefaults();
    bool result = false;
    {
        ConfigParser parser(true);
        // A file read with errors is not used at all: which of two values was
        // meant cannot be told.
        if (parser.read(path)) result = load_values(parser, settings);
    }
    settings.m_changed = false;
    return result;
}

bool SaveConsoleSettings(const char* path, const ConsoleSettings& settings) {
    ConfigParser parser(true);
    bool result = parser.set(FILE_INFO, "version", FILE_VERSION, true);

    for (const TextKey& entry : TEXT_KEYS) {
        result &= parser.set(CALLER_ID, entry.key, (settings.*entry.get)(), true);
    }

    if (const char* word = authentication_word(settings.GetAuthentication())) {
        result &= parser.set(CALLER_ID, "Authentication", word, true);
    } else {
        LogValue(SYSERR_FILE, __LINE__, 4, settings.GetAuthentication(),
                 L"Unexpected value for the setting Authentication");
        result = false;
    }
    if (const char* word = database_type_word(settings.GetCallerIdDatabaseType())) {
        result &= parser.set(CALLER_ID, "CallerIDDatabaseType", word, true);
    } else {
        LogValue(SYSERR_FILE, __LINE__, 4, settings.GetCallerIdDatabaseType(),
                 L"Unexpected value for the setting CallerIDDatabaseType");
        result = false;
    }

    const SwitchKey& console_log = SWITCH_KEYS[0];
    result &=
        parser.set_bool(CONSOLE_OPTIONS, console_log.key, (settings.*console_log.get)(), true);
    result &= parser.set(CONSOLE_OPTIONS, "Language Locale",
                         static_cast<unsigned long>(settings.GetLanguageLocale()), true);
    for (const SwitchKey& entry : SWITCH_KEYS) {
        if (&entry == &console_log) continue;
        result &= parser.set_bool(CONSOLE_OPTIONS, entry.key, (settings.*entry.get)(), true);
    }

    const bool written = path && parser.write(path, false);
    return written && result;
}
