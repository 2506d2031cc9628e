#include "code/char2wchar.h"

#include <cstdlib>
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
