// The small environment, file and text helpers, and the wide-to-8-bit conversion.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <clocale>
#include <cstring>
#include <string>

#include "code/char2wchar.h"
#include "code/computername.h"
#include "code/environ.h"
#include "code/filex.h"
#include "code/text_helpers.h"
#include "tests/support/log_capture.h"
#include "tests/support/temp_dir.h"

namespace {

// Sets or unsets environment variables for one test and restores them after.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : m_name(name) {
        if (const char* old = getenv(name)) m_old = old, m_had = true;
        value ? setenv(name, value, 1) : unsetenv(name);
    }
    ~ScopedEnv() { m_had ? setenv(m_name, m_old.c_str(), 1) : unsetenv(m_name); }

private:
    const char* m_name;
    std::string m_old;
    bool m_had = false;
};

TEST(TextHelpers, ParseDecimalTakesLeadingDigitsOnly) {
    EXPECT_EQ(parse_decimal("514abc"), 514u);
    EXPECT_EQ(parse_decimal("abc"), 0u);
    EXPECT_EQ(parse_decimal("-5"), 0u);
    EXPECT_EQ(parse_decimal(" 5"), 0u);
    EXPECT_EQ(parse_decimal(""), 0u);
    EXPECT_EQ(parse_decimal("4294967295"), 4294967295u);
    EXPECT_EQ(parse_decimal("4294967296"), 0u) << "wraps modulo 2^32";
}

TEST(TextHelpers, StrNicmpIgnoresCaseWithinN) {
    EXPECT_EQ(str_nicmp("TRUE", "true", 4), 0);
    EXPECT_NE(str_nicmp("tru", "true", 4), 0);
    EXPECT_EQ(str_nicmp("tru", "true", 3), 0);
    EXPECT_EQ(str_nicmp("yes", "YES", 10), 0) << "both end together before n";
    EXPECT_EQ(str_nicmp("a", "b", 0), 0);
    EXPECT_LT(str_nicmp("a", "B", 1), 0);
    EXPECT_GT(str_nicmp("c", "B", 1), 0);
}

TEST(TextHelpers, StrCopyBoundedCutsAndTerminates) {
    char buffer[8];
    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(str_copy_bounded(buffer, "abcdef", 4), 6u);
    EXPECT_STREQ(buffer, "abc");
    EXPECT_EQ(buffer[4], 'x') << "nothing written past n";
    EXPECT_EQ(str_copy_bounded(buffer, "ab", 8), 2u);
    EXPECT_STREQ(buffer, "ab");
    char untouched = 'u';
    EXPECT_EQ(str_copy_bounded(&untouched, "abc", 0), 3u);
    EXPECT_EQ(untouched, 'u');
}

TEST(Environ, EmptyValueExistsButIsNotRead) {
    ScopedEnv v("TALVEX_T_EMPTY", "");
    EXPECT_TRUE(env_exists("TALVEX_T_EMPTY"));
    char buffer[8] = "keep";
    EXPECT_FALSE(env_get("TALVEX_T_EMPTY", buffer, sizeof buffer));
    EXPECT_STREQ(buffer, "keep");
    uint32_t value = 77;
    EXPECT_FALSE(env_get_uint("TALVEX_T_EMPTY", value));
    EXPECT_EQ(value, 77u);
    ScopedEnv u("TALVEX_T_UNSET", nullptr);
    EXPECT_FALSE(env_exists("TALVEX_T_UNSET"));
}

TEST(Environ, ValueThatDoesNotFitIsNeverTakenAsRead) {
    ScopedEnv v("TALVEX_T_LONG", "12345678");
    char buffer[8] = "keep";
    EXPECT_FALSE(env_get("TALVEX_T_LONG", buffer, sizeof buffer));
    EXPECT_STREQ(buffer, "keep");
    char fits[9];
    EXPECT_TRUE(env_get("TALVEX_T_LONG", fits, sizeof fits));
    EXPECT_STREQ(fits, "12345678");
    wchar_t wide[8] = L"keep";
    EXPECT_FALSE(env_get_w(L"TALVEX_T_LONG", wide, 8));
    EXPECT_STREQ(wide, L"keep");

    ScopedEnv n("TALVEX_T_NUM", "1234567890123456789012345678901");  // 31 characters
    uint32_t value = 5;
    EXPECT_FALSE(env_get_uint("TALVEX_T_NUM", value));
    EXPECT_EQ(value, 5u);
}

TEST(Environ, UintReadsLikeAtoi) {
    uint32_t value = 0;
    ScopedEnv a("TALVEX_T_N", "  +12abc");
    EXPECT_TRUE(env_get_uint("TALVEX_T_N", value));
    EXPECT_EQ(value, 12u);
    ScopedEnv b("TALVEX_T_N", "-1");
    EXPECT_TRUE(env_get_uint("TALVEX_T_N", value));
    EXPECT_EQ(value, 0xFFFFFFFFu);
    ScopedEnv c("TALVEX_T_N", "abc");
    EXPECT_TRUE(env_get_uint("TALVEX_T_N", value));
    EXPECT_EQ(value, 0u);
}

TEST(Environ, TempDirTakesTheFirstUsableVariable) {
    ScopedEnv a("DIR_TMP", nullptr), b("TMPDIR", nullptr), c("TMP", "/tmp/a"), d("TEMP", "/tmp/b");
    wchar_t buffer[128];
    ASSERT_TRUE(get_temp_dir(buffer, 128));
    EXPECT_STREQ(buffer, L"/tmp/a");
    ScopedEnv e("TMPDIR", "");
    ASSERT_TRUE(get_temp_dir(buffer, 128));
    EXPECT_STREQ(buffer, L"/tmp/a") << "an empty variable is passed over";
    ScopedEnv f("TMP", std::string(200, 'x').c_str());
    ASSERT_TRUE(get_temp_dir(buffer, 128));
    EXPECT_STREQ(buffer, L"/tmp/b") << "a value that does not fit is passed over";
    ScopedEnv g("TMP", nullptr), h("TEMP", nullptr);
    EXPECT_FALSE(get_temp_dir(buffer, 128));
}

TEST(Helpers, NullArgumentsAreReportedAndRefused) {
    LogCapture log;
    EXPECT_FALSE(file_exists(nullptr));
    EXPECT_FALSE(file_exists_w(nullptr));
    EXPECT_FALSE(env_exists(nullptr));
    char buffer[4];
    EXPECT_FALSE(env_get(nullptr, buffer, sizeof buffer));
    EXPECT_FALSE(get_temp_dir(nullptr, 4));
    const std::vector<std::string> expected = {
        "verify(file_pathname) failure",
        "verify(file_pathname) failure",
        "verify(envvar) failure",
        "verify(envvar && (value_buffer_size <= 0xffffffff)) failure",
        "verify(dirname_buffer) failure",
    };
    EXPECT_EQ(log.messages(), expected);
}

TEST(Filex, ExistsForFilesAndFolders) {
    TempDir dir;
    write_file_bytes(dir.file("a.txt"), "x");
    EXPECT_TRUE(file_exists(dir.file("a.txt").c_str()));
    EXPECT_TRUE(file_exists(dir.path().c_str()));
    EXPECT_FALSE(file_exists(dir.file("missing").c_str()));
    const std::wstring wide = dir.path().wstring() + L"/a.txt";
    EXPECT_TRUE(file_exists_w(wide.c_str()));
}

TEST(Char2Wchar, StringFormConvertsOrLeavesDestination) {
    std::string out = "old";
    EXPECT_TRUE(wchar_to_mbchar(L"", out));
    EXPECT_EQ(out, "");
    EXPECT_TRUE(wchar_to_mbchar(L"caf\u00e9", out));
    EXPECT_EQ(out, "caf\xc3\xa9");

    const char* previous = setlocale(LC_CTYPE, nullptr);
    const std::string saved = previous ? previous : "C";
    setlocale(LC_CTYPE, "C");
    out = "old";
    EXPECT_FALSE(wchar_to_mbchar(L"\u20ac", out)) << "the C locale cannot represent it";
    EXPECT_EQ(out, "old");
    setlocale(LC_CTYPE, saved.c_str());
}

TEST(Char2Wchar, BufferFormCutsToCapacity) {
    char buffer[16];
    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_TRUE(wchar_to_mbchar(L"0123456789", buffer, 11));
    EXPECT_STREQ(buffer, "0123456789");
    EXPECT_TRUE(wchar_to_mbchar(L"0123456789", buffer, 5));
    EXPECT_STREQ(buffer, "0123");
    EXPECT_EQ(buffer[5], '5') << "bytes past the capacity are untouched";
    EXPECT_TRUE(wchar_to_mbchar(L"0123456789", buffer, 1));
    EXPECT_STREQ(buffer, "");
    EXPECT_FALSE(wchar_to_mbchar(L"x", buffer, 0));
}

TEST(ComputerName, IsTheHostNameAndCached) {
    char host[256] = {};
    ASSERT_EQ(gethostname(host, sizeof host - 1), 0);
    const wchar_t* name = get_computer_name();
    std::string narrow;
    ASSERT_TRUE(wchar_to_mbchar(name, narrow));
    EXPECT_EQ(narrow, host);
    EXPECT_EQ(get_computer_name(), name);
}

}  // namespace
