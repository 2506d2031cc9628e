#include "code/environ.h"

#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>

#include "code/syserrx.h"

namespace {

// Wide text here is the process locale's view of the environment's bytes.
bool narrow_name(const wchar_t* name, std::string& out) {
    std::mbstate_t state{};
    const wchar_t* source = name;
    const size_t length = std::wcsrtombs(nullptr, &source, 0, &state);
    if (length == static_cast<size_t>(-1)) return false;
    out.assign(length, '\0');
    source = name;
    state = {};
    std::wcsrtombs(out.data(), &source, length, &state);
    return true;
}

}  // namespace

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
    std::string narrow;
    if (!narrow_name(name, narrow)) return false;
    const char* value = std::getenv(narrow.c_str());
    if (!value || !*value) return false;
    std::mbstate_t state{};
    const char* source = value;
    const size_t length = std::mbsrtowcs(nullptr, &source, 0, &state);
    if (length == static_cast<size_t>(-1) || length >= size) return false;
    source = value;
    state = {};
    std::mbsrtowcs(buffer, &source, length + 1, &state);
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
