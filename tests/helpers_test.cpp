// The small environment, file and text helpers, and the text conversions.
#include <gtest/gtest.h>

#include <clocale>
#include <optional>
#include <string>
#include <tuple>

#include "code/char2wchar.h"
#include "code/environ.h"
#include "code/filex.h"
#include "code/text_helpers.h"
#include "tests/support/log_capture.h"
#include "tests/support/scoped_env.h"

namespace {

TEST(TextHelpers, ParseDecimalStrNicmpAndStrCopyBounded) {
    EXPECT_EQ(parse_decimal("514abc"), 514u);
    EXPECT_EQ(str_nicmp("yes", "YES", 10), 0) << "both end together before n";
    EXPECT_TRUE(str_nicmp("tru", "true", 4) < 0 && str_nicmp("a", "B", 1) < 0) << "as upper case";
    char buffer[8] = "xxxxxxx";
    EXPECT_EQ(str_copy_bounded(buffer, "abcdef", 4), 6u);
    EXPECT_EQ(str_copy_bounded(buffer, "z", 0), 1u);
    EXPECT_EQ(std::string(buffer, 5), std::string("abc\0x", 5)) << "cut, ended, rest as was";
}

// A value that is empty, does not fit or is too long a number is never taken as read. The
// temp folder is the first of its four names in turn whose value is taken.
TEST(Environ, ValuesTheTempFolderAndTheNumber) {
    ScopedEnv a("DIR_TMP", "/tmp/0"), b("TMPDIR", "/tmp/1"), c("TMP", "/tmp/2"),
        d("TEMP", "/tmp/3"), e("TALVEX_T", "12345678"), f("TALVEX_UNSET", nullptr);
    char narrow[8] = "keep";
    wchar_t wide[128] = L"keep";
    EXPECT_FALSE(env_get("TALVEX_T", narrow, sizeof narrow) || env_get_w(L"TALVEX_T", wide, 8) ||
                 env_get_w(L"TALVEX_UNSET", wide, 8));
    EXPECT_STREQ(narrow, "keep");
    EXPECT_TRUE(env_get_w(L"TALVEX_T", wide, 9) && wide == std::wstring(L"12345678"));
    const char* const temp_names[] = {"DIR_TMP", "TMPDIR", "TMP", "TEMP"};
    for (int i = 0; i < 4; ++i) {  // each passed over once empty or too long
        EXPECT_TRUE(get_temp_dir(wide, 128) && wide == L"/tmp/" + std::to_wstring(i)) << i;
        setenv(temp_names[i], i % 2 ? "" : std::string(200, 'x').c_str(), 1);
    }
    EXPECT_FALSE(get_temp_dir(wide, 128));
    EXPECT_TRUE(env_exists("TMPDIR") && !env_exists("TALVEX_UNSET")) << "set but empty";
    const std::pair<std::string, std::optional<uint32_t>> numbers[] = {
        {"-1", 0xFFFFFFFFu},
        {std::string(28, '0') + "12", 12},
        {std::string(31, '1'), std::nullopt},
        {"", std::nullopt}};
    for (const auto& [text, expected] : numbers) {
        ScopedEnv n("TALVEX_T", text.c_str());
        uint32_t value = 77;
        EXPECT_EQ(env_get_uint("TALVEX_T", value), expected.has_value()) << text;
        EXPECT_EQ(value, expected.value_or(77)) << text;
    }
}

TEST(Helpers, FilesExistAndNullArgumentsAreReportedAndRefused) {
    EXPECT_TRUE(file_exists("/proc/self/exe") && file_exists_w(L"/proc/self/exe"));
    EXPECT_FALSE(file_exists("/proc/self/no such file"));
    LogCapture log;
    char buffer[4];
    uint32_t value = 0;
    EXPECT_FALSE(file_exists(nullptr) || file_exists_w(nullptr) || env_exists(nullptr) ||
                 env_get(nullptr, buffer, sizeof buffer) || env_get_w(nullptr, nullptr, 4) ||
                 env_get_uint(nullptr, value) || get_temp_dir(nullptr, 4));
    EXPECT_EQ(log.messages().size(), 7u);
}

// Each row: UTF-8, wide and UTF-16 text and the ways it converts: 'b' both; 'i' in only: not
// UTF-8, so the strict decoder fails and the lenient one keeps each stray byte's value; 'o'
// out only: no character, which UTF-8 writes as U+FFFD and UTF-16 reads as U+FFFD.
TEST(TextConversions, Utf8Utf16AndTheLocale) {
    const std::tuple<char, std::string, std::wstring, std::u16string> rows[] = {
        {'b', "caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80", L"caf\u00e9 \u20ac \U0001F600",
         u"caf\u00e9 \u20ac \U0001F600"},
        {'i', "\xc0\xaf\xed\xa0\x80", L"\xc0\xaf\xed\xa0\x80", {}},          // overlong, surrogate
        {'i', "\xf4\x90\x80\x80\xe2\x82", L"\xf4\x90\x80\x80\xe2\x82", {}},  // past U+10FFFF, cut
        {'o', "\xef\xbf\xbd", L"\xdc00", u"\xdc00"},
        {'o', "\xef\xbf\xbd", L"\x110000", u"\xfffd"},
    };
    for (const auto& [way, utf8, wide, utf16] : rows) {
        SCOPED_TRACE(utf8);
        std::wstring strict = L"old";
        if (way != 'o') {
            EXPECT_EQ(utf8_to_wide(utf8, strict), way == 'b');
            EXPECT_EQ(strict, way == 'b' ? wide : L"old");
            EXPECT_EQ(utf8_to_wide_lenient(utf8), wide);
        }
        if (way != 'i') {
            EXPECT_EQ(wide_to_utf8(wide), utf8);
            EXPECT_EQ(wide_to_utf16(wide), utf16);
            EXPECT_EQ(utf16_to_wide(utf16), way == 'b' ? wide : L"\uFFFD");
        }
    }
    // A high surrogate without its partner is no character either.
    EXPECT_EQ(utf16_to_wide(u"\xD83D x \xDE00"), L"\uFFFD x \uFFFD");

    // The locale's forms: all or nothing, the buffer form cut to its capacity.
    std::string narrow = "old";
    std::wstring wide = L"old";
    EXPECT_TRUE(wchar_to_mbchar(L"caf\u00e9", narrow) && mbchar_to_wchar("\xe2\x82\xac", wide));
    EXPECT_EQ(std::tie(narrow, wide), std::make_tuple("caf\xc3\xa9", L"\u20ac"));
    char buffer[8] = "xxxxxxx";
    EXPECT_TRUE(wchar_to_mbchar(L"0123456789", buffer, 5));
    EXPECT_EQ(std::string(buffer, 6), std::string("0123\0x", 6));
    setlocale(LC_CTYPE, "C");
    EXPECT_FALSE(wchar_to_mbchar(L"\u20ac", narrow) || mbchar_to_wchar("\xe2\x82\xac", wide) ||
                 wchar_to_mbchar(L"x", buffer, 0));
    EXPECT_EQ(std::tie(narrow, wide), std::make_tuple("caf\xc3\xa9", L"\u20ac")) << "unchanged";
    setlocale(LC_CTYPE, "C.UTF-8");  // as every test starts
}

}  // namespace
