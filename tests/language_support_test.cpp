// The discovery of installed language libraries over a real folder of DLLs, and the
// names of language identifiers.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "code/LanguageSupport.h"
#include "tests/support/log_capture.h"
#include "tests/support/temp_dir.h"

namespace {

const wchar_t* const kPattern = L"Talvex???.DLL";
const wchar_t* const kVersion = L"2.700.401.16";
const wchar_t* const kProperty = L"ProductVersion";

// A language folder as an installation might hold it: two accepted libraries whose
// names sort differently by case (the German one's table key is upper case), an older
// build, one without a version resource, a name the pattern does not match, and a folder
// and a FIFO named like a library.
TEST(LanguageFolder, AcceptsExactlyMatchingVersionsInCaseInsensitiveNameOrder) {
    TempDir dir;
    for (const auto& [fixture, name] : {std::pair{"french64.dll", "TalvexFRA.DLL"},
                                        {"german32.dll", "Talvexaut.dll"},
                                        {"italian_old64.dll", "TalvexITA.DLL"},
                                        {"no_version64.dll", "TalvexNOV.DLL"},
                                        {"french64.dll", "TalvexFRAX.DLL"}})
        write_file_bytes(dir.file(name),
                         read_file_bytes(std::string(TALVEX_LANGUAGE_DLL_DIR) + "/" + fixture));
    ASSERT_EQ(mkdir(dir.file("TalvexDIR.DLL").c_str(), 0755), 0);
    // Without a writer, opening a FIFO for reading would block forever.
    ASSERT_EQ(mkfifo(dir.file("TalvexFIF.DLL").c_str(), 0644), 0);
    // "name language display-name" of each library found, in order.
    const auto find = [&dir](const wchar_t* version, const wchar_t* tail = L"") {
        std::vector<LanguageLibrary> found;
        alarm(20);
        EXPECT_TRUE(FindLanguageLibraries((dir.path().wstring() + tail).c_str(), kPattern, version,
                                          kProperty, found));
        alarm(0);
        std::wstring out;
        for (const LanguageLibrary& l : found)
            out +=
                l.fileName + L" " + std::to_wstring(l.languageId) + L" " + l.languageName + L"\n";
        return out;
    };
    LogCapture log;
    const std::wstring expected =
        L"Talvexaut.dll 1031 German (Germany)\nTalvexFRA.DLL 1036 French (France)\n";
    EXPECT_EQ(find(kVersion), expected);
    // The one without a version resource, the folder and the FIFO are reported; the
    // older build is not.
    EXPECT_EQ(log.messages().size(), 3u);
    EXPECT_EQ(find(kVersion, L"/"), expected) << "a trailing separator changes nothing";
    EXPECT_EQ(find(L"2.700.401.1"), L"");
    EXPECT_EQ(find(L"2.700.401.16 "), L"");
    EXPECT_EQ(find(L"2.700.401.15"), L"TalvexITA.DLL 1040 Italian (Italy)\n");
}

// Each refusal is reported; a missing folder is no fault and reports nothing.
TEST(LanguageDiscovery, RefusedArgumentsAndMissingFolderFindNothing) {
    const std::wstring longFolder = L"/" + std::wstring(259, L'a');
    const std::wstring almost = L"/" + std::wstring(250, L'a');  // no room for the pattern
    const std::tuple<const wchar_t*, const wchar_t*, bool, size_t> cases[] = {
        {L"/tmp", nullptr, false, 1},
        {longFolder.c_str(), kVersion, false, 1},
        {almost.c_str(), kVersion, false, 1},
        {L"/nonexistent/Language", kVersion, true, 0}};
    for (const auto& [folder, version, result, reports] : cases) {
        LogCapture log;
        std::vector<LanguageLibrary> found{{L"stale", 1, L"stale"}};
        EXPECT_EQ(FindLanguageLibraries(folder, kPattern, version, kProperty, found), result);
        EXPECT_TRUE(found.empty());
        EXPECT_EQ(log.messages().size(), reports) << testing::PrintToString(log.messages());
    }
}

TEST(LanguageDiscovery, ListingMatchesThePatternIgnoringCase) {
    TempDir dir;
    for (const char* name : {"b.DLL", "A.dll", "c.txt", "aa.dll", "B.dll", "[x].dll", "x.dll",
                             "Y\xfe.dll", "YZ.dll", "x.dll.bak"})
        write_file_bytes(dir.file(name), "x");
    // A byte that is no UTF-8 sorts as itself, after every character.
    const std::pair<const char*, std::vector<std::string>> cases[] = {
        {"[x].DLL", {"[x].dll"}},
        {"*.dll",
         {"A.dll", "aa.dll", "B.dll", "b.DLL", "x.dll", "YZ.dll", "Y\xfe.dll", "[x].dll"}}};
    for (const auto& [pattern, expected] : cases) {
        std::vector<std::string> names;
        EXPECT_TRUE(ListMatchingFiles(dir.path().string(), pattern, names));
        EXPECT_EQ(names, expected) << pattern;
    }
}

TEST(LanguageDisplayName, NamesLanguagesLikeTheSystem) {
    // The tests run in the C.UTF-8 locale, which names languages in English (so in
    // LanguageFolder and the Console Options page).
    const std::tuple<uint16_t, const char*, std::wstring> cases[] = {
        {1036, "fr", L"fran\u00e7ais (France)"},
        {0x0400, nullptr, L"Language Neutral"},
        {0x1234, nullptr, L"Language Neutral"}};
    for (const auto& [id, locale, expected] : cases)
        EXPECT_EQ(LanguageDisplayName(id, locale), expected) << id;
}

}  // namespace
