#include "app/setting_values.h"

#include <unicode/uloc.h>

#include <algorithm>
#include <cctype>

#include "app/caller_id_rules.h"

namespace {

bool equals_ignoring_case(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

// The length of the UTF-8 sequence at `at` and its code point; 0 when it is not one.
size_t decode_utf8(std::string_view bytes, size_t at, char32_t& code) {
    const auto byte = [&](size_t i) { return static_cast<unsigned char>(bytes[i]); };
    const unsigned char lead = byte(at);
    size_t length = 0;
    if (lead < 0x80) {
        code = lead;
        return 1;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        code = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        code = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        code = lead & 0x07;
    } else {
        return 0;
    }
    if (at + length > bytes.size()) return 0;
    for (size_t i = 1; i < length; ++i) {
        if ((byte(at + i) & 0xC0) != 0x80) return 0;
        code = (code << 6) | (byte(at + i) & 0x3F);
    }
    const char32_t smallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (code < smallest[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
    return length;
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
        return std::to_string(NormalisedPort(WidenLenient(settings.GetDbmsTcpPort())));
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

bool Utf8ToWide(std::string_view bytes, std::wstring& text) {
    std::wstring result;
    for (size_t at = 0; at < bytes.size();) {
        char32_t code = 0;
        const size_t length = decode_utf8(bytes, at, code);
        if (length == 0) return false;
        result.push_back(static_cast<wchar_t>(code));
        at += length;
    }
    text = std::move(result);
    return true;
}

std::wstring WidenLenient(std::string_view bytes) {
    std::wstring result;
    for (size_t at = 0; at < bytes.size();) {
        char32_t code = 0;
        size_t length = decode_utf8(bytes, at, code);
        if (length == 0) {
            code = static_cast<unsigned char>(bytes[at]);
            length = 1;
        }
        result.push_back(static_cast<wchar_t>(code));
        at += length;
    }
    return result;
}

std::string WideToUtf8(std::wstring_view text) {
    std::string result;
    for (const wchar_t unit : text) {
        auto code = static_cast<char32_t>(unit);
        if (code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) code = 0xFFFD;
        if (code < 0x80) {
            result.push_back(static_cast<char>(code));
        } else if (code < 0x800) {
            result.push_back(static_cast<char>(0xC0 | (code >> 6)));
            result.push_back(static_cast<char>(0x80 | (code & 0x3F)));
        } else if (code < 0x10000) {
            result.push_back(static_cast<char>(0xE0 | (code >> 12)));
            result.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
            result.push_back(static_cast<char>(0x80 | (code & 0x3F)));
        } else {
            result.push_back(static_cast<char>(0xF0 | (code >> 18)));
            result.push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
            result.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
            result.push_back(static_cast<char>(0x80 | (code & 0x3F)));
        }
    }
    return result;
}
