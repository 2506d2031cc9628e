// The connection test's steps as lines and details, against the Firebird server that
// scripts/firebird-test-server starts (through scripts/with-test-services).
#include "app/connection_test.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "app/string_table.h"
#include "tests/support/temp_dir.h"

namespace {

using Lines = std::vector<std::wstring>;

std::string Env(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

std::wstring Wide(const std::string& text) { return std::wstring(text.begin(), text.end()); }

std::string ServerMissing() {
    if (!Env("TALVEX_TEST_FB_UNAVAILABLE").empty()) return Env("TALVEX_TEST_FB_UNAVAILABLE");
    return Env("TALVEX_TEST_FB_PORT").empty()
               ? "TALVEX_TEST_FB_* not set: run the tests through scripts/with-test-services"
               : "";
}

DbmsConnectionSettings Account(const char* user, const std::string& password) {
    return {0, Wide(Env(user)), Wide(password), L"127.0.0.1", Wide(Env("TALVEX_TEST_FB_PORT"))};
}

Lines Text(std::initializer_list<unsigned> ids) {
    Lines lines;
    for (unsigned id : ids) lines.push_back(id == 0 ? std::wstring() : LoadCachedString(id));
    return lines;
}

TEST(ConnectionTest, EachStepAddsItsLinesAndTheDetailsSayWhy) {
    if (const std::string why = ServerMissing(); !why.empty()) GTEST_SKIP() << why;
    const std::wstring client = Wide(Env("TALVEX_TEST_FB_CLIENT_DIR"));
    TempDir empty, broken;
    write_file_bytes(broken.file("libfbclient.so.2"),
                     "\x7f"
                     "ELF but not really a library");
    const std::wstring missing = Wide(empty.path().string()) + L"/libfbclient.so.2";
    Lines notFound = Text({IDS_LIBRARY_TRYING, 0, 0, IDS_TEST_FAILED});
    notFound[1] = L"This file could NOT be found: " + missing;
    const Lines found = Text({IDS_LIBRARY_TRYING, IDS_LIBRARY_FOUND, 0, IDS_CONNECT_TRYING});
    const auto then = [](Lines lines, const Lines& more) {
        lines.insert(lines.end(), more.begin(), more.end());
        return lines;
    };
    const Lines connected = then(found, Text({IDS_CONNECT_OK, 0, IDS_READ_TRYING}));

    const struct {
        const char* what;
        std::wstring folder;
        DbmsConnectionSettings settings;
        Lines lines;
        size_t failedStep;  // index in details.steps; 3 when all passed
        long code;
        const char* errorPart;
    } cases[] = {
        {"every step passes", client,
         Account("TALVEX_TEST_FB_USER", Env("TALVEX_TEST_FB_PASSWORD")),
         then(connected, Text({IDS_READ_OK, 0, IDS_ALL_PASSED})), 3, 0, ""},
        {"a wrong password", client, Account("TALVEX_TEST_FB_USER", "not-the-password"),
         then(found, Text({IDS_CONNECT_FAILED, 0, IDS_TEST_FAILED})), 1, 335544472, "password"},
        {"a user the table is not granted to", client,
         Account("TALVEX_TEST_FB_NOROLE_USER", Env("TALVEX_TEST_FB_NOROLE_PASSWORD")),
         then(connected, Text({IDS_READ_FAILED, 0, IDS_TEST_FAILED})), 2, 335544352, "CALLERID"},
        {"no client library", Wide(empty.path().string()),
         Account("TALVEX_TEST_FB_USER", Env("TALVEX_TEST_FB_PASSWORD")), notFound, 0, 0,
         "no such file"},
        {"a client library that cannot be loaded", Wide(broken.path().string()),
         Account("TALVEX_TEST_FB_USER", Env("TALVEX_TEST_FB_PASSWORD")),
         then(found, Text({IDS_CONNECT_FAILED, 0, IDS_TEST_FAILED})), 1, 0, "cannot load"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Lines lines;
        ConnectionTestDetails details;
        const bool passed = RunConnectionTest(
            c.folder, c.settings, [&lines](const std::wstring& line) { lines.push_back(line); },
            &details);
        EXPECT_EQ(passed, c.failedStep == 3);
        EXPECT_EQ(lines, c.lines);
        ASSERT_EQ(details.steps.size(), std::min<size_t>(c.failedStep + 1, 3));
        for (size_t i = 0; i < details.steps.size(); ++i)
            EXPECT_EQ(details.steps[i].passed, i != c.failedStep) << i;
        const std::wstring described = DescribeConnectionTestDetails(details);
        if (c.failedStep < 3) {
            const auto& failed = details.steps[c.failedStep];
            EXPECT_EQ(failed.errorCode, c.code);
            EXPECT_NE(failed.error.find(Wide(c.errorPart)), std::wstring::npos) << failed.error;
            if (c.code != 0) {
                EXPECT_NE(described.find(std::to_wstring(c.code)), std::wstring::npos) << described;
            }
        }
        if (c.failedStep > 0) {
            EXPECT_EQ(details.clientLibraryPath, c.folder + L"/libfbclient.so.2");
        }
        if (c.failedStep > 1) {
            EXPECT_NE(details.clientLibraryVersion.find(L"3."), std::wstring::npos);
            EXPECT_NE(details.serverVersion.find(L"Firebird"), std::wstring::npos)
                << details.serverVersion;
            EXPECT_NE(described.find(details.serverVersion), std::wstring::npos) << described;
        }
    }
}

}  // namespace
