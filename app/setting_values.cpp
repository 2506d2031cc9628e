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
    switch (key.kind) {
        case SettingKind::Authentication:
            return std::string(WordOf(kAuthenticationWords, settings.GetAuthentication()));
        case SettingKind::DatabaseType:
            return std::string(WordOf(kDatabaseTypeWords, settings.GetCallerIdDatabaseType()));
        case SettingKind::Switch:
            return key.isOn(settings) ? "True" : "False";
        case SettingKind::Language:
            return std::to_string(settings.GetLanguageLocale());
        case SettingKind::Port:
            return std::to_string(NormalisedPort(utf8_to_wide_lenient(key.text(settings))));
        default:
            return key.text(settings);
    }
}

void StoreValue(ConsoleSettings& settings, const SettingKey& key, const std::string& value) {
    switch (key.kind) {
        case SettingKind::Authentication:
            settings.SetAuthentication(
                ValueOfWord(kAuthenticationWords, value, true).value_or(DbmsAuthentication));
            break;
        case SettingKind::DatabaseType:
            settings.SetCallerIdDatabaseType(
                ValueOfWord(kDatabaseTypeWords, value, true).value_or(CallerIdDbNone));
            break;
        case SettingKind::Switch:
            key.turn(settings, ParseSwitchWord(value).value_or(false));
            break;
        case SettingKind::Language:
            settings.SetLanguageLocale(ParseDecimal(value).value_or(settings.GetLanguageLocale()));
            break;
        default:
            key.storeText(settings, value);
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
