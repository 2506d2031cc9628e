#pragma once
// The settings as a person names and writes them outside the sheet: "Section.Key" names,
// the words and numbers of each value, and the UTF-8 text the settings file holds.
// Shared by the commands without a display and the check of a settings file.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "code/console_setting_keys.h"

// "DbmsTcpPort" or "CallerID.DbmsTcpPort", exactly as the file spells them; null otherwise.
const SettingKey* FindSettingKey(std::string_view name);
// "CallerID.DbmsTcpPort".
std::string FullName(const SettingKey& key);

// The value as the sheet shows it: a stored port that is no number or out of range as
// the sheet's 52444, the words of the file for the enumerations and switches.
std::string DisplayValue(const ConsoleSettings& settings, const SettingKey& key);
// Stores `value` (already checked) the way the page would.
void StoreValue(ConsoleSettings& settings, const SettingKey& key, const std::string& value);

// A switch's words, any case: true/false, on/off, yes/no and 1/0. The enumerations'
// words are the tables of code/console_settings.h.
std::optional<bool> ParseSwitchWord(std::string_view word);

// A Windows language identifier the system can name a language for (1033 is English,
// United States); 0, values above 0xFFFF and neutral or unknown languages are not.
bool IsLanguageIdentifier(uint32_t id);
// A decimal number (no sign, no blanks) that fits 32 bits.
std::optional<uint32_t> ParseDecimal(std::string_view text);
