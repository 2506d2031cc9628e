#pragma once
// Small 8-bit text helpers shared by the log and the INI parser.

#include <cstddef>
#include <cstdint>

// Compares at most n characters ignoring case (upper-cased in the current locale).
// 0 when they match or both texts end together before n; otherwise the difference
// of the upper-cased characters at the first mismatch.
int str_nicmp(const char* a, const char* b, size_t n);

// The number formed by the text's leading decimal digits, wrapping modulo 2^32;
// 0 when the text does not start with a digit (no sign, no leading blanks).
uint32_t parse_decimal(const char* text);

// Copies at most n - 1 bytes of source and terminates the destination; returns the
// source's length, so a result >= n means the copy was cut. n == 0 touches nothing.
size_t str_copy_bounded(char* destination, const char* source, size_t n);
