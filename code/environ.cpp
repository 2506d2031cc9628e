#include "code/environ.h"

#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>

#include "code/char2wchar.h"
#include "code/syserrx.h"

bool env_exists(const char* name) {
    if (!name) {
        SYSERR_VERIFY_FAILED(L"envvar");
        return false;
    }
    return std::getenv(name) != nullptr;
}

bool env_get(const char* name, char* buffer, size_t size) {
    if (!name || !buffer || size > 0xffffffffu) {
        SYSERR_VERIFY_FAILED(L"envvar && (value_buffer_size <= 0xffffffff)");
        return false;
    }
    const char* value = std::getenv(name);
    if (!value || !*value) return false;
    const size_t length = std::strlen(value);
    if (length >= size) return false;
    std::memcpy(buffer, value, length + 1);
    return true;
}

bool env_get_w(const wchar_t* name, wchar_t* buffer, size_t size) {
    if (!name || !buffer || size > 0xffffffffu) {
        SYSERR_VERIFY_FAILED(L"envvar && (value_buffer_size <= 0xffffffff)");
        return false;
    }
    // Wide text here is the process locale's view of the environment's bytes.
    std::string narrow;
    if (!wchar_to_mbchar(name, narrow)) return false;
    const char* value = std::getenv(narrow.c_str());
    std::wstring wide;
    if (!value || !*value || !mbchar_to_wchar(value, wide) || wide.size() >= size) return false;
    std::wmemcpy(buffer, wide.c_str(), wide.size() + 1);
    return true;
}

bool env_get_uint(const char* name, uint32_t& value) {
    if (!name) {
        SYSERR_VERIFY_FAILED(L"envvar");
        return false;
    }
    char text[31];
    if (!env_get(name, text, sizeof text)) return false;
    // atoi's conversion without its undefined behaviour on overflow.
    value = static_cast<uint32_t>(static_cast<int>(std::strtol(text, nullptr, 10)));
    return true;
}

bool get_temp_dir(wchar_t* buffer, size_t size) {
    if (!buffer) {
        SYSERR_VERIFY_FAILED(L"dirname_buffer");
        return false;
    }
    for (const wchar_t* name : {L"DIR_TMP", L"TMPDIR", L"TMP", L"TEMP"}) {
        if (env_get_w(name, buffer, size)) return true;
    }
    return false;
}
