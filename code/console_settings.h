#pragma once
// The one in-memory record of every setting the tool edits, with a sticky
// "changed" flag that decides whether the settings file is rewritten after OK.
// No validation here: the pages validate before they write.

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

enum AuthenticationMethod : int32_t {
    WindowsAuthentication = 0,
    DbmsAuthentication = 1,
};

enum CallerIdDatabaseType : int32_t {
    CallerIdDbNone = 0,
    CallerIdDbLocal = 1,
    CallerIdDbServer = 2,
};

// The words of the settings file for each enumeration, one table each: loading,
// saving and the command-line tool's `set` and `check` all read them here.
template <typename Enum>
struct EnumWord {
    Enum value;
    std::string_view word;
};
inline constexpr EnumWord<AuthenticationMethod> kAuthenticationWords[] = {
    {WindowsAuthentication, "Windows"}, {DbmsAuthentication, "DBMS"}};
inline constexpr EnumWord<CallerIdDatabaseType> kDatabaseTypeWords[] = {
    {CallerIdDbNone, "None"}, {CallerIdDbLocal, "Local"}, {CallerIdDbServer, "Server"}};

// The word for `value`; empty for a value outside the enumeration.
template <typename Enum, size_t N>
constexpr std::string_view WordOf(const EnumWord<Enum> (&table)[N], Enum value) {
    for (const EnumWord<Enum>& entry : table)
        if (entry.value == value) return entry.word;
    return {};
}

// The value `word` names: exactly as the file spells it, or in any case when asked.
template <typename Enum, size_t N>
std::optional<Enum> ValueOfWord(const EnumWord<Enum> (&table)[N], std::string_view word,
                                bool anyCase = false) {
    const auto same = [anyCase](char a, char b) {
        return a == b || (anyCase && std::tolower(static_cast<unsigned char>(a)) ==
                                         std::tolower(static_cast<unsigned char>(b)));
    };
    for (const EnumWord<Enum>& entry : table)
        if (std::equal(word.begin(), word.end(), entry.word.begin(), entry.word.end(), same))
            return entry.value;
    return std::nullopt;
}

class ConsoleSettings {
public:
    // Texts are 8-bit strings (UTF-8 on this platform), stored and compared byte for byte.
    using Text = std::string;

    ConsoleSettings();

    // Stores every default through the change rule, then clears the changed flag.
    void SetDefaults();

    const Text& GetAdmServer() const { return m_admServer; }
    const Text& GetDbmsTcpPort() const { return m_dbmsTcpPort; }
    const Text& GetLocalFileName() const { return m_localFileName; }
    const Text& GetPassword() const { return m_password; }
    const Text& GetUserId() const { return m_userId; }
    const AuthenticationMethod& GetAuthentication() const { return m_authentication; }
    const CallerIdDatabaseType& GetCallerIdDatabaseType() const { return m_callerIdDatabaseType; }
    const uint32_t& GetLanguageLocale() const { return m_languageLocale; }
    const bool& GetConsoleLog() const { return m_consoleLog; }
    const bool& GetSaveActivityLogToFile() const { return m_saveActivityLogToFile; }
    const bool& GetSavePageHistoryToFile() const { return m_savePageHistoryToFile; }
    const bool& GetUpdateDateTimeBios() const { return m_updateDateTimeBios; }
    const bool& IsChanged() const { return m_changed; }

    void SetAdmServer(const Text& value) { Store(m_admServer, value); }
    void SetDbmsTcpPort(const Text& value) { Store(m_dbmsTcpPort, value); }
    void SetLocalFileName(const Text& value) { Store(m_localFileName, value); }
    void SetPassword(const Text& value) { Store(m_password, value); }
    void SetUserId(const Text& value) { Store(m_userId, value); }
    void SetAuthentication(const AuthenticationMethod& value) { Store(m_authentication, value); }
    void SetCallerIdDatabaseType(const CallerIdDatabaseType& value) {
        Store(m_callerIdDatabaseType, value);
    }
    void SetLanguageLocale(const uint32_t& value) { Store(m_languageLocale, value); }

    void EnableConsoleLog() { Store(m_consoleLog, true); }
    void DisableConsoleLog() { Store(m_consoleLog, false); }
    void EnableSaveActivityLogToFile() { Store(m_saveActivityLogToFile, true); }
    void DisableSaveActivityLogToFile() { Store(m_saveActivityLogToFile, false); }
    void EnableSavePageHistoryToFile() { Store(m_savePageHistoryToFile, true); }
    void DisableSavePageHistoryToFile() { Store(m_savePageHistoryToFile, false); }
    void EnableUpdateDateTimeBios() { Store(m_updateDateTimeBios, true); }
    void DisableUpdateDateTimeBios() { Store(m_updateDateTimeBios, false); }

private:
    friend bool LoadConsoleSettings(const char* path, ConsoleSettings& settings,
                                    struct SettingsLoadReport* report);

    // The change rule: once set, the flag stays set until SetDefaults or the end
    // of a load clears it, even if a later call puts the earlier value back.
    template <typename T>
    void Store(T& field, const T& value) {
        if (!m_changed) m_changed = field != value;
        field = value;
    }

    Text m_admServer;
    Text m_dbmsTcpPort;
    Text m_localFileName;
    Text m_password;
    Text m_userId;
    AuthenticationMethod m_authentication = DbmsAuthentication;
    CallerIdDatabaseType m_callerIdDatabaseType = CallerIdDbNone;
    uint32_t m_languageLocale = 1033;
    bool m_consoleLog = true;
    bool m_saveActivityLogToFile = true;
    bool m_savePageHistoryToFile = true;
    bool m_updateDateTimeBios = true;
    bool m_changed = false;
};
