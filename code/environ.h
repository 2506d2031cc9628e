#pragma once
// Environment readers. A value that does not fit the caller's buffer is treated
// as not set: it is never handed back cut, and the buffer is left untouched.
// A null name or buffer is reported to the diagnostic log and gives false.

#include <cstddef>
#include <cstdint>

// True when the variable is set, also to the empty value.
bool env_exists(const char* name);

// True when the variable is set, non-empty and fits `size` bytes with its terminator.
bool env_get(const char* name, char* buffer, size_t size);
bool env_get_w(const wchar_t* name, wchar_t* buffer, size_t size);

// Reads the value like atoi (leading blanks and a sign accepted, stops at the first
// non-digit, 0 without digits). At most 30 characters; `value` is left unchanged on false.
bool env_get_uint(const char* name, uint32_t& value);

// The first of DIR_TMP, TMPDIR, TMP, TEMP that is set, non-empty and fits.
bool get_temp_dir(wchar_t* buffer, size_t size);
