#pragma once
// The rules the caller-ID page applies to what the user typed, as plain functions:
// the page, the commands without a display and their tests share them.

#include <cstdint>
#include <optional>
#include <string>

#include "code/console_settings.h"

inline constexpr uint32_t DefaultDbmsPort = 52444;
inline constexpr uint32_t MinDbmsPort = 1;
inline constexpr uint32_t MaxDbmsPort = 65535;
// Longest user name and password the page's edits take.
inline constexpr size_t MaxUserNameLength = 31;
inline constexpr size_t MaxPasswordLength = 8;
// Longest local file name, in UTF-16 units, ".xml" included.
inline constexpr size_t MaxLocalFileNameLength = 260;

// The port a stored or disabled port text stands for: the text read as a decimal
// integer (no digits give 0), with 0 and anything above 65535 replaced by 52444.
uint32_t NormalisedPort(const std::wstring& text);

// The port the user typed, when it is an unsigned decimal number (blanks around it
// allowed); nothing when it is no number. The range is checked separately.
std::optional<uint32_t> ParsePortText(const std::wstring& text);
bool PortInRange(uint32_t port);
// What the user is told when the port is no number or outside the range.
inline constexpr const wchar_t* kPortRangeMessage = L"Enter an integer between 1 and 65535.";

// 'calls' gives 'calls.xml', 'calls.XML' gives 'calls.XML.xml', 'calls.' gives
// 'calls..xml'; a name ending in ".xml" is returned as it is.
std::wstring WithXmlExtension(const std::wstring& name);

enum FileNameCheck { FileNameOk, FileNameEmpty, FileNameTooLong, FileNameBadCharacters };
// Empty, longer than 260 UTF-16 units, or holding U+0000..U+001F or one of < > : " | ? *,
// tested in that order. Separators are the caller's check (ValidateCallerIdFields).
FileNameCheck CheckLocalFileName(const std::wstring& name);

// What the user typed on the page for the caller-ID database, untrimmed.
struct CallerIdFields {
    CallerIdDatabaseType kind = CallerIdDbNone;
    std::wstring localFileName;
    std::wstring server;
    std::optional<uint32_t> port;  // nothing when the port text is no number
    bool dbmsAuthentication = false;
    std::wstring userName;
    std::wstring password;
};

// A password starting with white space: the settings file gives a value back without
// its blanks on the left, so the console would read another password than the one typed.
bool PasswordLosesLeadingBlanks(const std::wstring& password);

// The page's validation. 0 when the fields may be applied or tested; otherwise the
// string-table identifier of the message to show (IDS_FILL_ALL_FIELDS,
// IDS_PASSWORD_LEADING_BLANKS, IDS_FILE_NAME_TOO_LONG, IDS_FILE_NAME_BAD_CHARACTERS). For the local
// kind, `localFileName` receives the trimmed name with ".xml" added as the page shows it (also when
// the name is then refused). A port out of range or no number for the server kind gives
// IDS_FILL_ALL_FIELDS only when the page's own range check was skipped; the page checks the range
// first.
unsigned ValidateCallerIdFields(const CallerIdFields& fields, std::wstring& localFileName);

// Leading and trailing white space removed.
std::wstring Trimmed(const std::wstring& text);
