#pragma once
// The tool's user-visible texts by identifier. Widget-free, so that the connection
// test's runner and the commands without a display show the same lines as the sheet.

#include <string>

// The text of a cached entry; empty for an identifier outside the cached list.
// The cache is built on first use; call it once on the main thread before any
// other thread may (the sheet's title does), afterwards it is only read.
std::wstring LoadCachedString(unsigned id);

// Formats fetched directly rather than through the cache; each takes one %ls.
inline constexpr const wchar_t* kAlreadyRunningFormat =
    L"The %ls program is already running.  Multiple instances of this program are not "
    L"supported.";
inline constexpr const wchar_t* kRestartNoticeFormat =
    L"The changes will take effect when the %ls console application is restarted.";
inline constexpr const wchar_t* kProductName = L"Talvex";

// Identifiers of the cached entries.
enum StringId : unsigned {
    IDS_TITLE = 1,
    IDS_CONNECT_TRYING = 3,
    IDS_CONNECT_FAILED = 4,
    IDS_CONNECT_OK = 5,
    IDS_LIBRARY_TRYING = 6,
    IDS_LIBRARY_NOT_FOUND = 7,  // one %ls: the path looked for
    IDS_LIBRARY_FOUND = 8,
    IDS_ALL_PASSED = 9,
    IDS_TEST_FAILED = 10,
    IDS_READ_TRYING = 11,
    IDS_READ_OK = 12,
    IDS_READ_FAILED = 13,
    IDS_FILL_ALL_FIELDS = 14,
    IDS_FILE_NAME_TOO_LONG = 15,
    IDS_FILE_NAME_BAD_CHARACTERS = 18,
    IDS_FILE_NAME_INVALID = 19,
    IDS_WARNING = 53,
    IDS_PASSWORD_LEADING_BLANKS = 101,
};
