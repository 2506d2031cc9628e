#include "code/char2wchar.h"

#include <cstdint>
#include <cstdlib>
#include <cwchar>
#include <utility>

#include "code/syserrx.h"
#include "code/text_helpers.h"

bool wchar_to_mbchar(const wchar_t* source, std::string& destination) {
    if (!source) return false;
    bool converted = false;
    try {
        const size_t length = std::wcstombs(nullptr, source, 0);
        if (length == static_cast<size_t>(-1)) return false;
        std::string text(length, '\0');
        if (std::wcstombs(text.data(), source, length) == static_cast<size_t>(-1)) return false;
        destination = std::move(text);
        converted = true;
    } catch (...) {
        syserr_report(SYSERR_FILE, __LINE__, 4, L"%ls",
                      L"Unspecified exception in wchar_to_mbchar()");
    }
    return converted;
}

bool wchar_to_mbchar(const wchar_t* source, char* buffer, size_t capacity) {
    if (!buffer || capacity == 0) return false;
    try {
        std::string text;
        if (!wchar_to_mbchar(source, text)) return false;
        if (text.size() >= capacity) text.resize(capacity - 1);
        str_copy_bounded(buffer, text.c_str(), capacity);
        return true;
    } catch (...) {
        syserr_report(SYSERR_FILE, __LINE__, 4, L"%ls", L"unexpected exception");
    }
    return false;
}

bool mbchar_to_wchar(const char* source, std::wstring& destination) {
    if (!source) return false;
    std::mbstate_t state{};
    const char* cursor = source;
    const size_t length = std::mbsrtowcs(nullptr, &cursor, 0, &state);
    if (length == static_cast<size_t>(-1)) return false;
    std::wstring text(length, L'\0');
    cursor = source;
    state = std::mbstate_t{};
    std::mbsrtowcs(text.data(), &cursor, length, &state);
    destination = std::move(text);
    return true;
}

size_t utf8_decode(std::string_view bytes, size_t at, char32_t& code) {
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

bool utf8_to_wide(std::string_view bytes, std::wstring& destination) {
    std::wstring text;
    for (size_t at = 0; at < bytes.size();) {
        char32_t code = 0;
        const size_t length = utf8_decode(bytes, at, code);
        if (length == 0) return false;
        text.push_back(static_cast<wchar_t>(code));
        at += length;
    }
    destination = std::move(text);
    return true;
}

std::wstring utf8_to_wide_lenient(std::string_view bytes) {
    std::wstring text;
    text.reserve(bytes.size());  // every byte gives at most one character
    for (size_t at = 0; at < bytes.size();) {
        char32_t code = 0;
        size_t length = utf8_decode(bytes, at, code);
        if (length == 0) {
            code = static_cast<unsigned char>(bytes[at]);
            length = 1;
        }
        text.push_back(static_cast<wchar_t>(code));
        at += length;
    }
    return text;
}

std::string wide_to_utf8(std::wstring_view text) {
    std::string bytes;
    bytes.reserve(text.size());
    for (const wchar_t unit : text) {
        auto code = static_cast<char32_t>(unit);
        if (code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) code = 0xFFFD;
        if (code < 0x80) {
            bytes.push_back(static_cast<char>(code));
        } else if (code < 0x800) {
            bytes.push_back(static_cast<char>(0xC0 | (code >> 6)));
            bytes.push_back(static_cast<char>(0x80 | (code & 0x3F)));
        } else if (code < 0x10000) {
            bytes.push_back(static_cast<char>(0xE0 | (code >> 12)));
            bytes.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
            bytes.push_back(static_cast<char>(0x80 | (code & 0x3F)));
        } else {
            bytes.push_back(static_cast<char>(0xF0 | (code >> 18)));
            bytes.push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
            bytes.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
            bytes.push_back(static_cast<char>(0x80 | (code & 0x3F)));
        }
    }
    return bytes;
}

std::u16string wide_to_utf16(std::wstring_view text) {
    std::u16string units;
    units.reserve(text.size());
    for (const wchar_t unit : text) {
        const auto code = static_cast<uint32_t>(unit);
        if (code >= 0x10000 && code <= 0x10FFFF) {
            units.push_back(static_cast<char16_t>(0xD800 + ((code - 0x10000) >> 10)));
            units.push_back(static_cast<char16_t>(0xDC00 + ((code - 0x10000) & 0x3FF)));
        } else {
            units.push_back(code > 0x10FFFF ? u'\uFFFD' : static_cast<char16_t>(code));
        }
    }
    return units;
}

std::wstring utf16_to_wide(std::u16string_view units) {
    std::wstring text;
    text.reserve(units.size());
    for (size_t i = 0; i < units.size(); ++i) {
        const char16_t c = units[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < units.size() && units[i + 1] >= 0xDC00 &&
            units[i + 1] <= 0xDFFF) {
            text.push_back(
                static_cast<wchar_t>(0x10000 + ((c - 0xD800) << 10) + (units[i + 1] - 0xDC00)));
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            text.push_back(L'\uFFFD');
        } else {
            text.push_back(static_cast<wchar_t>(c));
        }
    }
    return text;
}
