#include "app/caller_id_rules.h"

#include <cwctype>
#include <limits>

#include "app/string_table.h"

namespace {

bool IsBlank(wchar_t c) { return std::iswspace(static_cast<wint_t>(c)) != 0; }
bool IsDigit(wchar_t c) { return c >= L'0' && c <= L'9'; }
bool IsSeparator(wchar_t c) { return c == L'/' || c == L'\\'; }

// UTF-16 units, as the console's own file system limit counts them.
size_t Utf16Length(const std::wstring& text) {
    size_t units = 0;
    for (wchar_t c : text) units += static_cast<uint32_t>(c) > 0xFFFF ? 2 : 1;
    return units;
}

// The extension of the last element, from its last "."; none for "." and "..".
// Both separators end an element: the console reads these names on Windows.
std::wstring Extension(const std::wstring& name) {
    const size_t cut = name.find_last_of(L"/\\");
    const std::wstring last = cut == std::wstring::npos ? name : name.substr(cut + 1);
    if (last == L"." || last == L"..") return {};
    const size_t dot = last.rfind(L'.');
    return dot == std::wstring::npos ? std::wstring() : last.substr(dot);
}

}  // namespace

std::wstring Trimmed(const std::wstring& text) {
    size_t begin = 0, end = text.size();
    while (begin < end && IsBlank(text[begin])) ++begin;
    while (end > begin && IsBlank(text[end - 1])) --end;
    return text.substr(begin, end - begin);
}

uint32_t NormalisedPort(const std::wstring& text) {
    size_t i = 0;
    while (i < text.size() && IsBlank(text[i])) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == L'+' || text[i] == L'-')) negative = text[i++] == L'-';
    // Saturates: any value past the port range stands for the default alike.
    uint64_t value = 0;
    for (; i < text.size() && IsDigit(text[i]); ++i) {
        value = value * 10 + static_cast<uint64_t>(text[i] - L'0');
        if (value > MaxDbmsPort) value = MaxDbmsPort + 1;
    }
    if (negative && value != 0) value = MaxDbmsPort + 1;
    return value == 0 || value > MaxDbmsPort ? DefaultDbmsPort : static_cast<uint32_t>(value);
}

std::optional<uint32_t> ParsePortText(const std::wstring& text) {
    const std::wstring digits = Trimmed(text);
    if (digits.empty()) return std::nullopt;
    uint64_t value = 0;
    for (wchar_t c : digits) {
        if (!IsDigit(c)) return std::nullopt;
        value = value * 10 + static_cast<uint64_t>(c - L'0');
        if (value > std::numeric_limits<uint32_t>::max()) return std::nullopt;
    }
    return static_cast<uint32_t>(value);
}

bool PortInRange(uint32_t port) { return port >= MinDbmsPort && port <= MaxDbmsPort; }

std::wstring WithXmlExtension(const std::wstring& name) {
    return Extension(name) == L".xml" ? name : name + L".xml";
}

FileNameCheck CheckLocalFileName(const std::wstring& name) {
    if (name.empty()) return FileNameEmpty;
    if (Utf16Length(name) > MaxLocalFileNameLength) return FileNameTooLong;
    for (wchar_t c : name) {
        // U+0000 too: it would cut the name short on its way to the file system.
        if (static_cast<uint32_t>(c) <= 0x1F) return FileNameBadCharacters;
        if (std::wstring_view(L"<>:\"|?*").find(c) != std::wstring_view::npos)
            return FileNameBadCharacters;
    }
    return FileNameOk;
}

bool PasswordLosesLeadingBlanks(const std::wstring& password) {
    return !password.empty() && IsBlank(password.front());
}

unsigned ValidateCallerIdFields(const CallerIdFields& fields, std::wstring& localFileName) {
    switch (fields.kind) {
        case CallerIdDbServer: {
            const bool complete = !Trimmed(fields.server).empty() && fields.port &&
                                  PortInRange(*fields.port) &&
                                  (!fields.dbmsAuthentication ||
                                   (!Trimmed(fields.userName).empty() && !fields.password.empty()));
            if (!complete) return IDS_FILL_ALL_FIELDS;
            return fields.dbmsAuthentication && PasswordLosesLeadingBlanks(fields.password)
                       ? unsigned{IDS_PASSWORD_LEADING_BLANKS}
                       : 0u;
        }
        case CallerIdDbLocal: {
            localFileName = Trimmed(fields.localFileName);
            if (localFileName.empty()) return IDS_FILL_ALL_FIELDS;
            localFileName = WithXmlExtension(localFileName);
            switch (CheckLocalFileName(localFileName)) {
                case FileNameEmpty:
                    return IDS_FILL_ALL_FIELDS;
                case FileNameTooLong:
                    return IDS_FILE_NAME_TOO_LONG;
                case FileNameBadCharacters:
                    return IDS_FILE_NAME_BAD_CHARACTERS;
                case FileNameOk:
                    break;
            }
            // A bare file name only: the folder is the settings folder. A drive, a root
            // or a folder in the name shows as one of the refused characters.
            for (wchar_t c : localFileName)
                if (IsSeparator(c)) return IDS_FILE_NAME_BAD_CHARACTERS;
            return 0;
        }
        case CallerIdDbNone:
        default:
            return 0;
    }
}
