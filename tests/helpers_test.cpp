// The small environment, file and text helpers, and the wide-to-8-bit conversion.
#include <gtest/gtest.h>
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
#include "tests/support/scoped_env.h"
#include "tests/support/temp_dir.h"

namespace {

TEST(TextHelpers, ParseDecimalAndStrNicmp) {
    const std::pair<const char*, uint32_t> numbers[] = {
        {"514abc", 514},    {"abc", 0}, {"-5", 0}, {" 5", 0}, {"", 0}, {"4294967295", 4294967295u},
        {"4294967306", 10},  // wraps modulo 2^32
    };
    for (const auto& [text, value] : numbers) EXPECT_EQ(parse_decimal(text), value) << text;

    struct Compare {
        const char *a, *b;
        size_t n;
        int sign;
    };
    const Compare compares[] = {
        {"TRUE", "true", 4, 0}, {"tru", "true", 4, -1}, {"tru", "true", 3, 0},
        {"yes", "YES", 10, 0},  // both end together before n
        {"a", "b", 0, 0},       {"a", "B", 1, -1},      {"c", "B", 1, 1},
    };
    for (const Compare& c : compares) {
        const int result = str_nicmp(c.a, c.b, c.n);
        EXPECT_EQ((result > 0) - (result < 0), c.sign) << c.a << " " << c.b << " " << c.n;
    }
}

TEST(TextHelpers, StrCopyBoundedCutsAndTerminates) {
    char buffer[8];
    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(str_copy_bounded(buffer, "abcdef", 4), 6u);
    EXPECT_STREQ(buffer, "abc");
    EXPECT_EQ(buffer[4], 'x') << "nothing written past n";
    EXPECT_EQ(str_copy_bounded(buffer, "ab", 8), 2u);
    EXPECT_STREQ(buffer, "ab");
    EXPECT_EQ(str_copy_bounded(buffer, "abc", 0), 3u);
    EXPECT_STREQ(buffer, "ab") << "n == 0 touches nothing";
}

TEST(Environ, AValueThatIsEmptyOrDoesNotFitIsNeverTakenAsRead) {
    ScopedEnv empty("TALVEX_T_EMPTY", ""), unset("TALVEX_T_UNSET", nullptr);
    ScopedEnv long_value("TALVEX_T_LONG", "12345678"),
        number("TALVEX_T_NUM", "1234567890123456789012345678901");
    EXPECT_TRUE(env_exists("TALVEX_T_EMPTY"));
    EXPECT_FALSE(env_exists("TALVEX_T_UNSET"));
    char buffer[8] = "keep";
    wchar_t wide[8] = L"keep";
    uint32_t value = 77;
    EXPECT_FALSE(env_get("TALVEX_T_EMPTY", buffer, sizeof buffer));
    EXPECT_FALSE(env_get("TALVEX_T_LONG", buffer, sizeof buffer));
    EXPECT_FALSE(env_get_w(L"TALVEX_T_LONG", wide, 8));
    EXPECT_FALSE(env_get_uint("TALVEX_T_EMPTY", value));
    EXPECT_FALSE(env_get_uint("TALVEX_T_NUM", value)) << "31 characters";
    EXPECT_STREQ(buffer, "keep");
    EXPECT_STREQ(wide, L"keep");
    EXPECT_EQ(value, 77u);
    char fits[9];
    EXPECT_TRUE(env_get("TALVEX_T_LONG", fits, sizeof fits));
    EXPECT_STREQ(fits, "12345678");
}

TEST(Environ, UintReadsLikeAtoi) {
    const std::pair<std::string, uint32_t> cases[] = {
        {"  +12abc", 12}, {"-1", 0xFFFFFFFFu}, {"abc", 0}, {std::string(28, '0') + "12", 12}};
    for (const auto& [text, expected] : cases) {
        ScopedEnv v("TALVEX_T_N", text.c_str());
        uint32_t value = 7;
        EXPECT_TRUE(env_get_uint("TALVEX_T_N", value)) << text;
        EXPECT_EQ(value, expected) << text;
    }
}

TEST(Environ, TempDirTakesTheFirstUsableVariable) {
    ScopedEnv a("DIR_TMP", nullptr), b("TMPDIR", ""), c("TMP", "/tmp/a"), d("TEMP", "/tmp/b");
    wchar_t buffer[128];
    ASSERT_TRUE(get_temp_dir(buffer, 128));
    EXPECT_STREQ(buffer, L"/tmp/a") << "an empty variable is passed over";
    ScopedEnv e("TMP", std::string(200, 'x').c_str());
    ASSERT_TRUE(get_temp_dir(buffer, 128));
    EXPECT_STREQ(buffer, L"/tmp/b") << "a value that does not fit is passed over";
    ScopedEnv f("TMP", nullptr), g("TEMP", nullptr);
    EXPECT_FALSE(get_temp_dir(buffer, 128));
}

TEST(Helpers, NullArgumentsAreReportedAndRefused) {
    LogCapture log;
    char buffer[4];
    EXPECT_FALSE(file_exists(nullptr));
    EXPECT_FALSE(file_exists_w(nullptr));
    EXPECT_FALSE(env_exists(nullptr));
    EXPECT_FALSE(env_get(nullptr, buffer, sizeof buffer));
    EXPECT_FALSE(get_temp_dir(nullptr, 4));
    EXPECT_EQ(log.messages(), (std::vector<std::string>{
                                  "verify(file_pathname) failure",
                                  "verify(file_pathname) failure",
                                  "verify(envvar) failure",
                                  "verify(envvar && (value_buffer_size <= 0xffffffff)) failure",
                                  "verify(dirname_buffer) failure",
                              }));
}

TEST(Filex, ExistsForFilesAndFolders) {
    TempDir dir;
    write_file_bytes(dir.file("a.txt"), "x");
    EXPECT_TRUE(file_exists(dir.file("a.txt").c_str()));
    EXPECT_TRUE(file_exists(dir.path().c_str()));
    EXPECT_FALSE(file_exists(dir.file("missing").c_str()));
    EXPECT_TRUE(file_exists_w((dir.path() / "a.txt").wstring().c_str()));
}

TEST(Char2Wchar, ConvertsCutsToCapacityOrLeavesTheDestination) {
    std::string out = "old";
    EXPECT_TRUE(wchar_to_mbchar(L"", out));
    EXPECT_EQ(out, "");
    EXPECT_TRUE(wchar_to_mbchar(L"caf\u00e9", out));
    EXPECT_EQ(out, "caf\xc3\xa9");

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

    const std::string saved = setlocale(LC_CTYPE, nullptr);
    setlocale(LC_CTYPE, "C");
    out = "old";
    EXPECT_FALSE(wchar_to_mbchar(L"\u20ac", out)) << "the C locale cannot represent it";
    EXPECT_EQ(out, "old");
    setlocale(LC_CTYPE, saved.c_str());
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
