#include "code/text_helpers.h"

#include <cctype>
#include <cstring>

int str_nicmp(const char* a, const char* b, size_t n) {
    for (size_t i = 0; i < n; ++i) {
        const int ca = std::toupper(static_cast<unsigned char>(a[i]));
        const int cb = std::toupper(static_cast<unsigned char>(b[i]));
        if (ca != cb) return ca - cb;
        if (ca == 0) break;
    }
    return 0;
}

uint32_t parse_decimal(const char* text) {
    uint32_t value = 0;
    for (; *text >= '0' && *text <= '9'; ++text) {
        value = value * 10u + static_cast<uint32_t>(*text - '0');
    }
    return value;
}

size_t str_copy_bounded(char* destination, const char* source, size_t n) {
    const size_t length = std::strlen(source);
    if (n == 0) return length;
    const size_t count = length < n - 1 ? length : n - 1;
    std::memcpy(destination, source, count);
    destination[count] = '\0';
    return length;
}
