// The discovery of installed language libraries over a real folder of DLLs, and the
// names of language identifiers.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "code/LanguageSupport.h"
#include "tests/support/log_capture.h"
#include "tests/support/temp_dir.h"

namespace {

const wchar_t* const kPattern = L"Talvex???.DLL";
const wchar_t* const kVersion = L"2.700.401.16";
const wchar_t* const kProperty = L"ProductVersion";
const char* const kMissingPropertyReport =
    "Assertion failure: GetFileVersionPropertyInfo(pchFoundFilePath, lpzVersionInfoRequested, "
    "pchTmpWorkBuffer, sizeof(pchTmpWorkBuffer)) > 0";

std::wstring wide(const std::string& ascii) { return std::wstring(ascii.begin(), ascii.end()); }

void install(const TempDir& dir, const std::string& fixture, const std::string& name) {
    write_file_bytes(dir.file(name),
                     read_file_bytes(std::string(TALVEX_LANGUAGE_DLL_DIR) + "/" + fixture));
}

// A language folder as an installation might hold it: accepted libraries whose
// names sort differently by case, an older build, one whose property sits under
// its second translation only, one without a version resource, names the pattern
// does not match, and a folder named like a library.
class LanguageFolder : public testing::Test {
protected:
    void SetUp() override {
        install(m_dir, "french64.dll", "TalvexFRA.DLL");
        install(m_dir, "french32.dll", "TalvexCAN.DLL");
        install(m_dir, "german32.dll", "talvexdeu.dll");
        install(m_dir, "german32.dll", "Talvexaut.dll");
        install(m_dir, "italian_old64.dll", "TalvexITA.DLL");
        install(m_dir, "second_translation64.dll", "TalvexESP.DLL");
        install(m_dir, "no_version64.dll", "TalvexNOV.DLL");
        install(m_dir, "french64.dll", "Talvex.DLL");
        install(m_dir, "french64.dll", "TalvexFRAX.DLL");
        install(m_dir, "french64.dll", "TalvexFRA.DLL.bak");
        mkdir(m_dir.file("TalvexDIR.DLL").c_str(), 0755);
    }

    std::vector<LanguageLibrary> find(const std::wstring& folder,
                                      const wchar_t* version = kVersion) {
        std::vector<LanguageLibrary> found;
        EXPECT_TRUE(FindLanguageLibraries(folder.c_str(), kPattern, version, kProperty, found));
        return found;
    }

    std::wstring folder() const { return wide(m_dir.path().string()); }

    TempDir m_dir;
};

TEST_F(LanguageFolder, AcceptsMatchingVersionsInCaseInsensitiveNameOrder) {
    LogCapture log;
    const auto found = find(folder());
    ASSERT_EQ(found.size(), 4u);
    EXPECT_EQ(found[0].fileName, L"Talvexaut.dll");
    EXPECT_EQ(found[1].fileName, L"TalvexCAN.DLL");
    EXPECT_EQ(found[2].fileName, L"talvexdeu.dll");
    EXPECT_EQ(found[3].fileName, L"TalvexFRA.DLL");
    EXPECT_EQ(found[0].languageId, 1031);
    EXPECT_EQ(found[1].languageId, 1036);
    EXPECT_EQ(found[2].languageId, 1031);
    EXPECT_EQ(found[3].languageId, 1036);
    EXPECT_EQ(found[0].languageName, L"German (Germany)");
    EXPECT_EQ(found[3].languageName, L"French (France)");

    // The Spanish one (property only under its second translation), the one without
    // a version resource and the folder are reported; the older build is not.
    const auto messages = log.messages();
    EXPECT_EQ(std::count(messages.begin(), messages.end(), kMissingPropertyReport), 3)
        << testing::PrintToString(messages);
}

TEST_F(LanguageFolder, TrailingSeparatorSearchesTheSameFiles) {
    const auto without = find(folder());
    const auto with = find(folder() + L"/");
    ASSERT_EQ(without.size(), with.size());
    for (size_t i = 0; i < with.size(); ++i) EXPECT_EQ(without[i].fileName, with[i].fileName);
}

TEST_F(LanguageFolder, VersionMustMatchExactly) {
    EXPECT_TRUE(find(folder(), L"2.700.401.1").empty());
    EXPECT_TRUE(find(folder(), L"2.700.401.16 ").empty());
    const auto older = find(folder(), L"2.700.401.15");
    ASSERT_EQ(older.size(), 1u);
    EXPECT_EQ(older[0].fileName, L"TalvexITA.DLL");
    EXPECT_EQ(older[0].languageId, 1040);
}

TEST_F(LanguageFolder, FifoNamedLikeALibraryDoesNotHang) {
    ASSERT_EQ(mkfifo(m_dir.file("TalvexFIF.DLL").c_str(), 0644), 0);
    alarm(20);
    EXPECT_EQ(find(folder()).size(), 4u);
    alarm(0);
}

TEST(LanguageDiscovery, RefusedArgumentsAreReportedAndFindNothing) {
    std::vector<LanguageLibrary> found{{L"stale", 1, L"stale"}};
    LogCapture log;
    EXPECT_FALSE(FindLanguageLibraries(L"/tmp", kPattern, nullptr, kProperty, found));
    EXPECT_TRUE(found.empty());
    EXPECT_EQ(log.messages(),
              std::vector<std::string>{"verify(lpzLangFilePath && lpzLangFileNamePattern && "
                                       "lpzLangFileVersion && lpzVersionInfoRequested) failure"});

    LogCapture tooLong;
    const std::wstring longFolder = L"/" + std::wstring(259, L'a');
    EXPECT_FALSE(FindLanguageLibraries(longFolder.c_str(), kPattern, kVersion, kProperty, found));
    const std::wstring almost = L"/" + std::wstring(250, L'a');
    EXPECT_FALSE(FindLanguageLibraries(almost.c_str(), kPattern, kVersion, kProperty, found));
    EXPECT_EQ(tooLong.messages(),
              (std::vector<std::string>{
                  "Assertion failure: wcscpy_s(pchFindFilePath, _MAX_PATH, lpzLangFilePath) == 0",
                  "Assertion failure: wcscat_s(pchSearchFilePath, _MAX_PATH, "
                  "lpzLangFileNamePattern) == 0"}));
}

TEST(LanguageDiscovery, MissingFolderFindsNothingQuietly) {
    LogCapture log;
    std::vector<LanguageLibrary> found;
    EXPECT_TRUE(
        FindLanguageLibraries(L"/nonexistent/Language", kPattern, kVersion, kProperty, found));
    EXPECT_TRUE(found.empty());
    EXPECT_TRUE(log.messages().empty());
}

TEST(LanguageDisplayName, NamesLanguagesLikeTheSystem) {
    EXPECT_EQ(LanguageDisplayName(1036, "en"), L"French (France)");
    EXPECT_EQ(LanguageDisplayName(1031, "en"), L"German (Germany)");
    EXPECT_EQ(LanguageDisplayName(1036, "fr"), L"fran\u00e7ais (France)");
    EXPECT_EQ(LanguageDisplayName(1031, "de"), L"Deutsch (Deutschland)");
    // The tests run in the C.UTF-8 locale, which names languages in English.
    EXPECT_EQ(LanguageDisplayName(1033), L"English (United States)");
    EXPECT_EQ(LanguageDisplayName(0), L"Language Neutral");
    EXPECT_EQ(LanguageDisplayName(0x0400), L"Language Neutral");
    EXPECT_EQ(LanguageDisplayName(0x1234), L"Language Neutral");
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
}

}  // namespace
