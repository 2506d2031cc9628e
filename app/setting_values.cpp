#include "app/setting_values.h"

#include <unicode/uloc.h>

#include <algorithm>
#include <cctype>

#include "app/caller_id_rules.h"
#include "code/char2wchar.h"

namespace {

bool equals_ignoring_case(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

}  // namespace

const SettingKey* FindSettingKey(std::string_view name) {
    for (const SettingKey& entry : kSettingKeys) {
        if (name == entry.key) return &entry;
        if (name.size() == entry.section.size() + 1 + entry.key.size() &&
            name.starts_with(entry.section) && name[entry.section.size()] == '.' &&
            name.ends_with(entry.key))
            return &entry;
    }
    return nullptr;
}

std::string FullName(const SettingKey& key) {
    return std::string(key.section) + "." + std::string(key.key);
}

std::string DisplayValue(const ConsoleSettings& settings, const SettingKey& key) {
    const auto switch_word = [](bool on) { return std::string(on ? "True" : "False"); };
    if (key.key == "ADM Server") return settings.GetAdmServer();
    if (key.key == "Authentication")
        return std::string(WordOf(kAuthenticationWords, settings.GetAuthentication()));
    if (key.key == "CallerIDDatabaseType")
        return std::string(WordOf(kDatabaseTypeWords, settings.GetCallerIdDatabaseType()));
    if (key.key == "DbmsTcpPort")
        return std::to_string(NormalisedPort(utf8_to_wide_lenient(settings.GetDbmsTcpPort())));
    if (key.key == "Local_FileName") return settings.GetLocalFileName();
    if (key.key == "Password") return settings.GetPassword();
    if (key.key == "UserID") return settings.GetUserId();
    if (key.key == "CsleLog") return switch_word(settings.GetConsoleLog());
    if (key.key == "Language Locale") return std::to_string(settings.GetLanguageLocale());
    if (key.key == "SaveActLogToFile") return switch_word(settings.GetSaveActivityLogToFile());
    if (key.key == "SavePageHistToFile") return switch_word(settings.GetSavePageHistoryToFile());
    return switch_word(settings.GetUpdateDateTimeBios());
}

void StoreValue(ConsoleSettings& settings, const SettingKey& key, const std::string& value) {
    const bool on = ParseSwitchWord(value).value_or(false);
    if (key.key == "ADM Server") {
        settings.SetAdmServer(value);
    } else if (key.key == "Authentication") {
        settings.SetAuthentication(
            ValueOfWord(kAuthenticationWords, value, true).value_or(DbmsAuthentication));
    } else if (key.key == "CallerIDDatabaseType") {
        settings.SetCallerIdDatabaseType(
            ValueOfWord(kDatabaseTypeWords, value, true).value_or(CallerIdDbNone));
    } else if (key.key == "DbmsTcpPort") {
        settings.SetDbmsTcpPort(value);
    } else if (key.key == "Local_FileName") {
        settings.SetLocalFileName(value);
    } else if (key.key == "Password") {
        settings.SetPassword(value);
    } else if (key.key == "UserID") {
        settings.SetUserId(value);
    } else if (key.key == "CsleLog") {
        on ? settings.EnableConsoleLog() : settings.DisableConsoleLog();
    } else if (key.key == "Language Locale") {
        settings.SetLanguageLocale(ParseDecimal(value).value_or(settings.GetLanguageLocale()));
    } else if (key.key == "SaveActLogToFile") {
        on ? settings.EnableSaveActivityLogToFile() : settings.DisableSaveActivityLogToFile();
    } else if (key.key == "SavePageHistToFile") {
        on ? settings.EnableSavePageHistoryToFile() : settings.DisableSavePageHistoryToFile();
    } else {
        on ? settings.EnableUpdateDateTimeBios() : settings.DisableUpdateDateTimeBios();
    }
}

std::optional<bool> ParseSwitchWord(std::string_view word) {
    for (const char* yes : {"true", "on", "yes", "1"})
        if (equals_ignoring_case(word, yes)) return true;
    for (const char* no : {"false", "off", "no", "0"})
        if (equals_ignoring_case(word, no)) return false;
    return std::nullopt;
}

bool IsLanguageIdentifier(uint32_t id) {
    // A primary language of 0 is the neutral one, which names no language.
    if (id == 0 || id > 0xFFFF || (id & 0x3FF) == 0) return false;
    char locale[ULOC_FULLNAME_CAPACITY] = {};
    UErrorCode status = U_ZERO_ERROR;
    uloc_getLocaleForLCID(id, locale, sizeof locale, &status);
    return U_SUCCESS(status) && status != U_STRING_NOT_TERMINATED_WARNING && locale[0] != '\0';
}

std::optional<uint32_t> ParseDecimal(std::string_view text) {
    if (text.empty() || text.size() > 10) return std::nullopt;
    uint64_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + static_cast<uint64_t>(c - '0');
    }
    if (value > UINT32_MAX) return std::nullopt;
    return static_cast<uint32_t>(value);
}
