#pragma once
// Wide to 8-bit text by the process locale (wcstombs). Neither form throws:
// text the locale cannot represent gives false and leaves the destination as it was.

#include <cstddef>
#include <string>

// Replaces `destination` with the whole converted text.
bool wchar_to_mbchar(const wchar_t* source, std::string& destination);

// Fills `buffer` (capacity >= 1 bytes) with the converted text cut to capacity - 1
// bytes and a terminating zero. The cut counts bytes, so it may split a character.
bool wchar_to_mbchar(const wchar_t* source, char* buffer, size_t capacity);
