#pragma once
// Text conversions. Wide text holds one code point per wchar_t.
//
// Wide to 8-bit text by the process locale (wcstombs). Neither form throws:
// text the locale cannot represent gives false and leaves the destination as it was.

#include <cstddef>
#include <string>
#include <string_view>

// Replaces `destination` with the whole converted text.
bool wchar_to_mbchar(const wchar_t* source, std::string& destination);

// Fills `buffer` (capacity >= 1 bytes) with the converted text cut to capacity - 1
// bytes and a terminating zero. The cut counts bytes, so it may split a character.
bool wchar_to_mbchar(const wchar_t* source, char* buffer, size_t capacity);

// The other conversions live here too, so that every caller agrees on what a
// character that does not convert becomes.
// 8-bit text of the process locale to wide (mbsrtowcs); the text ends at its first
// zero byte. False when the bytes are not text in the locale; `destination` is then
// left as it was.
bool mbchar_to_wchar(const char* source, std::wstring& destination);

// The length of the UTF-8 sequence starting at `at` and its code point; 0 when the
// bytes there are not one (overlong forms, surrogates and values past U+10FFFF are not).
size_t utf8_decode(std::string_view bytes, size_t at, char32_t& code);

// UTF-8 to wide text whatever the locale: false for bytes that are not UTF-8, and
// `destination` is then left as it was.
bool utf8_to_wide(std::string_view bytes, std::wstring& destination);

// Lenient: a byte that is not part of valid UTF-8 keeps its value as a code point.
std::wstring utf8_to_wide_lenient(std::string_view bytes);

// Wide text to UTF-8 whatever the locale; a value that is no character (a surrogate,
// or past U+10FFFF) becomes U+FFFD.
std::string wide_to_utf8(std::wstring_view text);

// Wide text to UTF-16 (pairs above U+FFFF); a value past U+10FFFF becomes U+FFFD.
std::u16string wide_to_utf16(std::wstring_view text);

// UTF-16 to wide text; a surrogate without its partner becomes U+FFFD.
std::wstring utf16_to_wide(std::u16string_view text);
