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

// A language folder as an installation might hold it: accepted libraries whose
// names sort differently by case, an older build, one whose property sits under
// its second translation only, one without a version resource, names the pattern
// does not match, and a folder and a FIFO named like a library.
class LanguageFolder : public testing::Test {
protected:
    void SetUp() override {
        const std::pair<const char*, const char*> installed[] = {
            {"french64.dll", "TalvexFRA.DLL"},      {"french32.dll", "TalvexCAN.DLL"},
            {"german32.dll", "talvexdeu.dll"},      {"german32.dll", "Talvexaut.dll"},
            {"italian_old64.dll", "TalvexITA.DLL"}, {"second_translation64.dll", "TalvexESP.DLL"},
            {"no_version64.dll", "TalvexNOV.DLL"},  {"french64.dll", "Talvex.DLL"},
            {"french64.dll", "TalvexFRAX.DLL"},     {"french64.dll", "TalvexFRA.DLL.bak"}};
        for (const auto& [fixture, name] : installed) {
            write_file_bytes(m_dir.file(name),
                             read_file_bytes(std::string(TALVEX_LANGUAGE_DLL_DIR) + "/" + fixture));
        }
        ASSERT_EQ(mkdir(m_dir.file("TalvexDIR.DLL").c_str(), 0755), 0);
        // Without a writer, opening a FIFO for reading would block forever.
        ASSERT_EQ(mkfifo(m_dir.file("TalvexFIF.DLL").c_str(), 0644), 0);
    }

    // "name language display-name" of each library found, in order.
    std::vector<std::wstring> find(const wchar_t* version = kVersion,
                                   const std::string& tail = "") {
        const std::string folder = m_dir.path().string() + tail;
        std::vector<LanguageLibrary> found;
        alarm(20);
        EXPECT_TRUE(FindLanguageLibraries(std::wstring(folder.begin(), folder.end()).c_str(),
                                          kPattern, version, kProperty, found));
        alarm(0);
        std::vector<std::wstring> out;
        for (const LanguageLibrary& l : found)
            out.push_back(l.fileName + L" " + std::to_wstring(l.languageId) + L" " +
                          l.languageName);
        return out;
    }

    TempDir m_dir;
};

TEST_F(LanguageFolder, AcceptsExactlyMatchingVersionsInCaseInsensitiveNameOrder) {
    LogCapture log;
    const std::vector<std::wstring> expected = {
        L"Talvexaut.dll 1031 German (Germany)", L"TalvexCAN.DLL 1036 French (France)",
        L"talvexdeu.dll 1031 German (Germany)", L"TalvexFRA.DLL 1036 French (France)"};
    EXPECT_EQ(find(), expected);
    // The Spanish one (property only under its second translation), the one without
    // a version resource, the folder and the FIFO are reported; the older build is not.
    EXPECT_EQ(log.messages(),
              std::vector<std::string>(4,
                                       "Assertion failure: GetFileVersionPropertyInfo("
                                       "pchFoundFilePath, lpzVersionInfoRequested, "
                                       "pchTmpWorkBuffer, sizeof(pchTmpWorkBuffer)) > 0"));
    EXPECT_EQ(find(kVersion, "/"), expected) << "a trailing separator changes nothing";
    EXPECT_TRUE(find(L"2.700.401.1").empty());
    EXPECT_TRUE(find(L"2.700.401.16 ").empty());
    EXPECT_EQ(find(L"2.700.401.15"),
              std::vector<std::wstring>{L"TalvexITA.DLL 1040 Italian (Italy)"});
}

TEST(LanguageDiscovery, RefusedArgumentsAndMissingFolderFindNothing) {
    std::vector<LanguageLibrary> found{{L"stale", 1, L"stale"}};
    LogCapture log;
    EXPECT_FALSE(FindLanguageLibraries(L"/tmp", kPattern, nullptr, kProperty, found));
    EXPECT_TRUE(found.empty());
    const std::wstring longFolder = L"/" + std::wstring(259, L'a');
    EXPECT_FALSE(FindLanguageLibraries(longFolder.c_str(), kPattern, kVersion, kProperty, found));
    const std::wstring almost = L"/" + std::wstring(250, L'a');
    EXPECT_FALSE(FindLanguageLibraries(almost.c_str(), kPattern, kVersion, kProperty, found));
    EXPECT_EQ(log.messages(),
              (std::vector<std::string>{
                  "verify(lpzLangFilePath && lpzLangFileNamePattern && lpzLangFileVersion && "
                  "lpzVersionInfoRequested) failure",
                  "Assertion failure: wcscpy_s(pchFindFilePath, _MAX_PATH, lpzLangFilePath) == 0",
                  "Assertion failure: wcscat_s(pchSearchFilePath, _MAX_PATH, "
                  "lpzLangFileNamePattern) == 0"}));

    LogCapture quiet;
    found = {{L"stale", 1, L"stale"}};
    EXPECT_TRUE(
        FindLanguageLibraries(L"/nonexistent/Language", kPattern, kVersion, kProperty, found));
    EXPECT_TRUE(found.empty());
    EXPECT_TRUE(quiet.messages().empty()) << "a missing folder is no fault";
}

TEST(LanguageDiscovery, ListingMatchesThePatternIgnoringCase) {
    TempDir dir;
    for (const char* name : {"b.DLL", "A.dll", "c.txt", "aa.dll", "B.dll", "[x].dll", "x.dll"})
        write_file_bytes(dir.file(name), "x");
    std::vector<std::string> names;
    EXPECT_TRUE(ListMatchingFiles(dir.path().string(), "?.dll", names));
    EXPECT_EQ(names, (std::vector<std::string>{"A.dll", "B.dll", "b.DLL", "x.dll"}));
    EXPECT_TRUE(ListMatchingFiles(dir.path().string(), "[x].DLL", names));
    EXPECT_EQ(names, std::vector<std::string>{"[x].dll"});
    // Names that are no UTF-8 still have one place: their bytes after every character.
    TempDir odd;
    for (const char* name : {"Z\xff.dll", "c.dll", "Y\xfe.dll", "B.dll", "a.dll"})
        write_file_bytes(odd.file(name), "x");
    EXPECT_TRUE(ListMatchingFiles(odd.path().string(), "*.dll", names));
    EXPECT_EQ(names,
              (std::vector<std::string>{"a.dll", "B.dll", "c.dll", "Y\xfe.dll", "Z\xff.dll"}));
}

TEST(LanguageDisplayName, NamesLanguagesLikeTheSystem) {
    // The tests run in the C.UTF-8 locale, which names languages in English.
    const std::tuple<uint16_t, const char*, std::wstring> cases[] = {
        {1036, "en", L"French (France)"},
        {1031, "en", L"German (Germany)"},
        {1036, "fr", L"fran\u00e7ais (France)"},
        {1031, "de", L"Deutsch (Deutschland)"},
        {1033, nullptr, L"English (United States)"},
        {0, nullptr, L"Language Neutral"},
        {0x0400, nullptr, L"Language Neutral"},
        {0x1234, nullptr, L"Language Neutral"}};
    for (const auto& [id, locale, expected] : cases)
        EXPECT_EQ(LanguageDisplayName(id, locale), expected) << id;
}

}  // namespace
