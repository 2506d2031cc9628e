// The caller-ID connection against the throwaway Firebird server that
// scripts/firebird-test-server starts (through scripts/with-test-services).
#include "app/CallerIdDbConnection.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>

#include "code/firebird_client.h"
#include "tests/support/scoped_env.h"
#include "tests/support/tcp_listener.h"
#include "tests/support/temp_dir.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr long ISC_LOGIN = 335544472;
constexpr long ISC_NETWORK_ERROR = 335544721;
constexpr long ISC_CONNECT_REJECT = 335544421;
const char NOT_AVAILABLE[] = "Firebird client libraries not avaialble";

std::string Env(const std::string& name) {
    const char* value = std::getenv(name.c_str());
    return value ? value : "";
}

std::wstring Wide(const std::string& text) { return std::wstring(text.begin(), text.end()); }

std::wstring ClientDir() { return Wide(Env("TALVEX_TEST_FB_CLIENT_DIR")); }

// Why the tests that need the server cannot run, or empty when it is there.
std::string ServerMissing() {
    if (Env("TALVEX_TEST_FB_PORT").empty() && Env("TALVEX_TEST_FB_UNAVAILABLE").empty())
        return "TALVEX_TEST_FB_* not set: run the tests through scripts/with-test-services";
    return Env("TALVEX_TEST_FB_UNAVAILABLE");
}
#define REQUIRE_SERVER() \
    if (const std::string why = ServerMissing(); !why.empty()) GTEST_SKIP() << why

// The test user's, unless told otherwise.
DbmsConnectionSettings Settings(const std::string& user = Env("TALVEX_TEST_FB_USER"),
                                const std::string& password = Env("TALVEX_TEST_FB_PASSWORD"),
                                const std::string& port = Env("TALVEX_TEST_FB_PORT")) {
    return {0, Wide(user), Wide(password), L"127.0.0.1", Wide(port)};
}

// Each row as "RecordId|Alias|Type|ID|Channel" and a line feed.
std::wstring Describe(const std::vector<CallerIdRecord>& records) {
    std::wstring rows;
    for (const CallerIdRecord& r : records)
        rows += std::to_wstring(r.RecordId) + L"|" + r.Alias + L"|" + r.Type + L"|" + r.ID + L"|" +
                std::to_wstring(r.Channel) + L"\n";
    return rows;
}

std::vector<CallerIdRecord> Marker() { return {CallerIdRecord{99, L"untouched", L"", L"", 0}}; }

TEST(CallerIdClientLibrary, FoundByExactNameBesideTheExecutableFirst) {
    TempDir dir;
    const std::wstring folder = Wide(dir.path().string());
    write_file_bytes(dir.file("libfbclient.so"), "x");
    EXPECT_FALSE(CallerIdDbConnection::ClientLibraryExists(folder));
    write_file_bytes(dir.file("libfbclient.so.2"), "x");
    EXPECT_TRUE(CallerIdDbConnection::ClientLibraryExists(folder + L"/"));

    EXPECT_EQ(fbclient::FindClientLibraryFolder(dir.path().string(), "/nonexistent"),
              dir.path().string());
}

// A loaded library stays loaded (by its path), so each case has a folder of its own.
TEST(CallerIdClientLibrary, AFolderWithoutAUsableClientGivesAnErrorNeverACrash) {
    // None there, then a real shared library that is no Firebird 3 client (as a 2.5 one).
    for (const char* library : {"", "/lib/x86_64-linux-gnu/libz.so.1"}) {
        SCOPED_TRACE(library);
        TempDir dir;
        if (*library) std::filesystem::copy_file(library, dir.file("libfbclient.so.2"));
        CallerIdDbConnection connection(Wide(dir.path().string()), Settings());
        EXPECT_THAT([&] { connection.Connect(); },
                    testing::ThrowsMessage<std::runtime_error>(testing::StrEq(NOT_AVAILABLE)));
        auto rows = Marker();
        EXPECT_FALSE(connection.ReadRecords(L"SELECT FIRST(1) * from CallerID", rows));
        EXPECT_EQ(Describe(rows), Describe(Marker()));
    }
}

// Trailing white space, kept leading blanks and a replaced (not appended) text are the
// invariants of fuzz_caller_id_text; these are the decodings it cannot know.
TEST(CallerIdText, NarrowsToLowBytesAndWidensUtf8KeepingOtherBytes) {
    using caller_id_text::CopyToNarrow;
    // U+1F600 is D83D DE00 in UTF-16: two units, two bytes.
    EXPECT_EQ(CopyToNarrow(L"\u0141x\u00e9\U0001F600"), std::string("\x41x\xe9\x3d\x00", 5));
    // Bytes that are not UTF-8 (a Latin-1 e-acute, a cut sequence) keep their value.
    std::wstring text;
    caller_id_text::WidenTrimmed("Caf\xc3\xa9 \xe2\x82\xac \xe9 \xe2\x82 \t\n\v\f\r", text);
    EXPECT_EQ(text, L"Caf\u00e9 \u20ac \u00e9 \u00e2\u0082");
}

TEST(CallerIdServer, EachQueryGivesItsRowsOrFalseAndOnlyWholeRows) {
    REQUIRE_SERVER();
    CallerIdDbConnection connection(ClientDir(), Settings());
    connection.Connect();
    const std::wstring all =
        L"1|Front desk|PSTN|+15551234567|7\n2|Back office|SIP|1002|12\n"
        L"3|Night line|PSTN|+15559876543|3\n";
    const std::tuple<const wchar_t*, bool, std::wstring> cases[] = {
        {L"SELECT * FROM CallerID ORDER BY RecordId", true, all},
        {L"SELECT * FROM CallerIDEmpty", true, L""},
        // SQL NULL reads as 0 or empty, never as what the row before held.
        {L"SELECT * FROM CallerIDNulls ORDER BY RecordId NULLS LAST", true,
         L"41|Full row|PSTN|+15550000001|5\n0||||0\n"},
        // SMALLINT and BIGINT beyond 32 bits read as integers, VARCHAR (TRIM) as text.
        {L"SELECT RecordId + 5000000000, TRIM(Alias), Type, ID, CAST(Channel AS SMALLINT) "
         L"FROM CallerID WHERE RecordId = 1",
         true, L"5000000001|Front desk|PSTN|+15551234567|7\n"},
        {L"SELECT FIRST(1) * from CallerID_Missing", false, Describe(Marker())},
        {L"UPDATE CallerID SET Channel = 0", false, Describe(Marker())},  // only reads
        // Get is strict: a column of another type, a value that does not fit, a scaled
        // number or a missing column fails the read.
        {L"SELECT * FROM CallerIDText", false, L""},  // a fifth column that is text
        {L"SELECT RecordId, RecordId, Type, ID, Channel FROM CallerID", false, L""},
        {L"SELECT RecordId, Alias, Type, ID, RecordId + 5000000000 FROM CallerID", false, L""},
        {L"SELECT CAST(1.5 AS NUMERIC(9,2)), Alias, Type, ID, Channel FROM CallerID", false, L""},
        {L"SELECT RecordId, Alias, Type, ID FROM CallerID", false, L""},
        {L"SELECT * FROM CallerID ORDER BY RecordId", true, all},  // still good afterwards
    };
    for (const auto& [sql, read, expected] : cases) {
        auto rows = Marker();
        EXPECT_EQ(connection.ReadRecords(sql, rows), read) << sql;
        EXPECT_EQ(Describe(rows), expected) << sql;
    }
}

// The test user, a wrong password and a user without the role: ConnectionTest; a host
// that never answers: the dialog's aRunningTestCannotBeDismissedAndEndsWithinTheBound.
TEST(CallerIdServer, EachAccountOrPeerConnectsOrFailsWithinItsBound) {
    REQUIRE_SERVER();
    DbmsConnectionSettings narrowed = Settings(), windows = Settings();
    for (wchar_t& c : narrowed.password) c = static_cast<wchar_t>(0x0100 | c);  // U+01xx
    windows.useWindowsAuthentication = 1;
    // Credentials in the environment must not be used in its place either.
    const ScopedEnv user("ISC_USER", Env("TALVEX_TEST_FB_USER").c_str()),
        password("ISC_PASSWORD", Env("TALVEX_TEST_FB_PASSWORD").c_str());
    const Listener mute;
    const double handshake = fbclient::Database::HANDSHAKE_TIMEOUT_SECONDS;
    const std::tuple<const char*, DbmsConnectionSettings, long, double, double> cases[] = {
        {"a password narrowed to the low byte of each character", narrowed, 0, 0, 5},
        {"Windows authentication, which this platform lacks", windows, ISC_LOGIN, 0, 5},
        {"a closed port", Settings("u", "p", ClosedPort()), ISC_NETWORK_ERROR, 0, 5},
        {"a peer that accepts and never answers", Settings("u", "p", mute.port()),
         ISC_CONNECT_REJECT, handshake - 1.0, handshake + 10.0},
    };
    for (const auto& [what, settings, code, at_least, below] : cases) {
        SCOPED_TRACE(what);
        CallerIdDbConnection connection(ClientDir(), settings);
        const auto start = Clock::now();
        long got = 0;
        try {
            connection.Connect();
        } catch (const fbclient::SQLException& e) {
            got = e.EngineCode();
        }
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        EXPECT_EQ(got, code);
        EXPECT_GE(seconds, at_least);
        EXPECT_LT(seconds, below);
        std::vector<CallerIdRecord> rows;
        EXPECT_EQ(connection.ReadRecords(L"SELECT FIRST(1) * from CallerID", rows), code == 0);
    }
}

// A second private server, stopped under the connection's feet.
TEST(CallerIdServer, ServerStoppedAfterConnectMakesReadRecordsFalse) {
    REQUIRE_SERVER();
    TempDir dir;
    const std::string server = "TALVEX_FB_STATE_DIR='" + dir.file("state") + "' '" +
                               TALVEX_SOURCE_DIR + "/scripts/firebird-test-server'";
    struct StopAtEnd {  // a failed assertion must not leave the server running
        std::string command;
        ~StopAtEnd() { (void)std::system(command.c_str()); }
    } stop{server + " stop"};
    // What its `export` lines say, read by the shell.
    const std::string start = "eval \"$(" + server + " start 2>/dev/null)\" && echo " +
                              "$TALVEX_TEST_FB_USER $TALVEX_TEST_FB_PASSWORD $TALVEX_TEST_FB_PORT";
    FILE* pipe = popen(start.c_str(), "r");
    char user[64] = "", password[64] = "", port[16] = "";
    ASSERT_NE(pipe, nullptr);
    ASSERT_EQ(fscanf(pipe, "%63s %63s %15s", user, password, port), 3);
    ASSERT_EQ(pclose(pipe), 0) << "second server did not start";
    CallerIdDbConnection connection(ClientDir(), Settings(user, password, port));
    connection.Connect();
    std::vector<CallerIdRecord> rows;
    EXPECT_TRUE(connection.ReadRecords(L"SELECT * FROM CallerID", rows));
    ASSERT_EQ(std::system(stop.command.c_str()), 0);
    const auto started = Clock::now();
    EXPECT_FALSE(connection.ReadRecords(L"SELECT * FROM CallerID", rows));
    EXPECT_LT(std::chrono::duration<double>(Clock::now() - started).count(), 5.0);
}

}  // namespace
