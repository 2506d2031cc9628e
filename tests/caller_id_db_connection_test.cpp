// The caller-ID connection against the throwaway Firebird server that
// scripts/firebird-test-server starts (through scripts/with-test-services).
#include "app/CallerIdDbConnection.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>

#include "code/firebird_client.h"
#include "tests/support/temp_dir.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr long ISC_LOGIN = 335544472;
constexpr long ISC_NETWORK_ERROR = 335544721;
constexpr long ISC_CONNECT_REJECT = 335544421;
constexpr long ISC_CONF_ACCESS_DENIED = 335544831;
constexpr long ISC_NO_PRIV = 335544352;

std::string Env(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

std::wstring Wide(const std::string& text) { return std::wstring(text.begin(), text.end()); }

std::wstring ClientDir() {
    std::string dir = Env("TALVEX_TEST_FB_CLIENT_DIR");
    return Wide(dir.empty() ? "/usr/lib/x86_64-linux-gnu" : dir);
}

// The reason the server tests cannot run, or empty when the server is there.
std::string ServerMissing() {
    std::string unavailable = Env("TALVEX_TEST_FB_UNAVAILABLE");
    if (!unavailable.empty()) return unavailable;
    if (Env("TALVEX_TEST_FB_PORT").empty())
        return "TALVEX_TEST_FB_* not set: run the tests through scripts/with-test-services";
    return "";
}

#define REQUIRE_SERVER()                               \
    do {                                               \
        std::string missing = ServerMissing();         \
        if (!missing.empty()) GTEST_SKIP() << missing; \
    } while (0)

DbmsConnectionSettings Settings(const std::string& user, const std::string& password,
                                const std::string& port = Env("TALVEX_TEST_FB_PORT"),
                                const std::string& host = "127.0.0.1") {
    DbmsConnectionSettings settings;
    settings.userName = Wide(user);
    settings.password = Wide(password);
    settings.server = Wide(host);
    settings.port = Wide(port);
    return settings;
}

DbmsConnectionSettings TestUser() {
    return Settings(Env("TALVEX_TEST_FB_USER"), Env("TALVEX_TEST_FB_PASSWORD"));
}

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Expects Connect to fail with a Firebird error of `code` and returns how long it took.
double ConnectFails(CallerIdDbConnection& connection, long code) {
    auto start = Clock::now();
    try {
        connection.Connect();
        ADD_FAILURE() << "Connect succeeded";
    } catch (const fbclient::SQLException& e) {
        EXPECT_EQ(e.EngineCode(), code) << e.what();
    }
    return SecondsSince(start);
}

// A listening socket on 127.0.0.1 that never accepts: the kernel completes the TCP
// handshake, then nothing ever answers.
class MuteListener {
public:
    MuteListener() {
        m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        if (m_fd < 0 || ::bind(m_fd, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
            ::listen(m_fd, 8) != 0 ||
            ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&address), &size) != 0)
            throw std::runtime_error("cannot listen on 127.0.0.1");
        m_port = ntohs(address.sin_port);
    }
    ~MuteListener() { ::close(m_fd); }
    int port() const { return m_port; }

private:
    int m_fd = -1;
    int m_port = 0;
};

// A port on 127.0.0.1 where nothing listens.
int ClosedPort() {
    int port;
    {
        MuteListener probe;
        port = probe.port();
    }
    return port;
}

std::vector<CallerIdRecord> Marker() {
    CallerIdRecord marker;
    marker.RecordId = 99;
    marker.Alias = L"untouched";
    return {marker};
}

}  // namespace

// ---- the client library folder ------------------------------------------------------

TEST(CallerIdClientLibrary, FoundByExactNameWithOrWithoutTrailingSeparator) {
    TempDir dir;
    std::wstring folder = Wide(dir.path().string());
    EXPECT_FALSE(CallerIdDbConnection::ClientLibraryExists(folder));
    write_file_bytes(dir.file("libfbclient.so"), "x");
    EXPECT_FALSE(CallerIdDbConnection::ClientLibraryExists(folder));
    write_file_bytes(dir.file("libfbclient.so.2"), "x");
    EXPECT_TRUE(CallerIdDbConnection::ClientLibraryExists(folder));
    EXPECT_TRUE(CallerIdDbConnection::ClientLibraryExists(folder + L"/"));
    EXPECT_TRUE(CallerIdDbConnection::ClientLibraryExists(ClientDir()));
}

TEST(CallerIdClientLibrary, MissingLibraryMakesAnUnavailableObject) {
    TempDir dir;
    CallerIdDbConnection connection(Wide(dir.path().string()), TestUser());
    try {
        connection.Connect();
        FAIL() << "Connect succeeded without a client library";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "Firebird client libraries not avaialble");
    }
    auto rows = Marker();
    EXPECT_FALSE(connection.ReadRecords(L"SELECT FIRST(1) * from CallerID", rows));
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].Alias, L"untouched");
}

TEST(CallerIdClientLibrary, FileThatIsNotALibraryThrowsInsteadOfCrashing) {
    TempDir dir;
    write_file_bytes(dir.file("libfbclient.so.2"),
                     "\x7f"
                     "ELF but not really a library");
    EXPECT_THROW(CallerIdDbConnection(Wide(dir.path().string()), TestUser()),
                 fbclient::LogicException);
}

TEST(CallerIdClientLibrary, LibraryWithoutTheObjectInterfaceIsUnavailable) {
    // A real shared library of that name that is no Firebird 3 client, like a 2.5 client.
    TempDir dir;
    std::filesystem::copy_file("/lib/x86_64-linux-gnu/libz.so.1", dir.file("libfbclient.so.2"));
    CallerIdDbConnection connection(Wide(dir.path().string()), TestUser());
    EXPECT_THROW(connection.Connect(), std::runtime_error);
    std::vector<CallerIdRecord> rows;
    EXPECT_FALSE(connection.ReadRecords(L"SELECT FIRST(1) * from CallerID", rows));
}

TEST(CallerIdClientLibrary, ServerAndPortFormTheConnectionString) {
    CallerIdDbConnection connection(ClientDir(), Settings("u", "p", "3050", "adm01"));
    EXPECT_EQ(connection.ConnectionString(), "adm01/3050:CallerID_Database");
}

TEST(CallerIdClientLibrary, FolderIsBesideTheExecutableThenWhereTheLoaderFindsIt) {
    TempDir beside, current;
    write_file_bytes(beside.file("libfbclient.so.2"), "x");
    EXPECT_EQ(fbclient::FindClientLibraryFolder(beside.path().string(), current.path().string()),
              beside.path().string());
    // This machine has the client installed, so the loader's folder comes before the
    // current directory.
    std::string found = fbclient::FindClientLibraryFolder(current.path().string() + "/none",
                                                          current.path().string());
    EXPECT_TRUE(std::filesystem::exists(found + "/libfbclient.so.2")) << found;
    EXPECT_NE(found, current.path().string());
}

// ---- text conversions ---------------------------------------------------------------

TEST(CallerIdText, NarrowingKeepsTheLowByteOfEachUtf16Unit) {
    using caller_id_text::CopyToNarrow;
    EXPECT_EQ(CopyToNarrow(L"\u0141x\u00e9"), std::string("\x41x\xe9"));
    // U+1F600 is D83D DE00 in UTF-16: two units, two bytes.
    EXPECT_EQ(CopyToNarrow(L"\U0001F600"), std::string("\x3d\x00", 2));
}

TEST(CallerIdText, WideningDecodesUtf8AndDropsTrailingWhiteSpace) {
    std::wstring text = L"previous value";
    caller_id_text::WidenTrimmed("Front desk  \t\r\n      ", text);
    EXPECT_EQ(text, L"Front desk");
    caller_id_text::WidenTrimmed("  lead kept", text);
    EXPECT_EQ(text, L"  lead kept");
    caller_id_text::WidenTrimmed("Caf\xc3\xa9 \xe2\x82\xac ", text);
    EXPECT_EQ(text, L"Caf\u00e9 \u20ac");
    // Bytes that are not UTF-8 (a Latin-1 e-acute, a cut sequence) keep their value.
    caller_id_text::WidenTrimmed("Caf\xe9 \xe2\x82", text);
    EXPECT_EQ(text, L"Caf\u00e9 \u00e2\u0082");
    caller_id_text::WidenTrimmed("                ", text);
    EXPECT_EQ(text, L"");
}

// ---- against the server -------------------------------------------------------------

TEST(CallerIdServer, ReadsRowsWithoutPaddingTwiceOnOneObject) {
    REQUIRE_SERVER();
    CallerIdDbConnection connection(ClientDir(), TestUser());
    auto rows = Marker();
    EXPECT_FALSE(connection.ReadRecords(L"SELECT * FROM CallerID", rows)) << "before Connect";
    EXPECT_EQ(rows.size(), 1u);

    connection.Connect();
    for (int round = 0; round < 2; ++round) {
        ASSERT_TRUE(connection.ReadRecords(L"SELECT * FROM CallerID ORDER BY RecordId", rows));
        ASSERT_EQ(rows.size(), 3u) << "round " << round;
        EXPECT_EQ(rows[0].RecordId, 1);
        EXPECT_EQ(rows[0].Alias, L"Front desk");
        EXPECT_EQ(rows[0].Type, L"PSTN");
        EXPECT_EQ(rows[0].ID, L"+15551234567");
        EXPECT_EQ(rows[0].Channel, 7);
        EXPECT_EQ(rows[1].Alias, L"Back office");
        EXPECT_EQ(rows[1].ID, L"1002");
        EXPECT_EQ(rows[2].RecordId, 3);
        EXPECT_EQ(rows[2].Channel, 3);
        EXPECT_GE(rows.capacity(), 20000u);
    }
    ASSERT_TRUE(connection.ReadRecords(L"SELECT FIRST(1) * from CallerID", rows));
    EXPECT_EQ(rows.size(), 1u);
}

TEST(CallerIdServer, EmptyTableGivesTrueAndNoRows) {
    REQUIRE_SERVER();
    CallerIdDbConnection connection(ClientDir(), TestUser());
    connection.Connect();
    auto rows = Marker();
    EXPECT_TRUE(connection.ReadRecords(L"SELECT * FROM CallerIDEmpty", rows));
    EXPECT_TRUE(rows.empty());
}

TEST(CallerIdServer, NullColumnsReadAsZeroAndEmptyNotAsThePreviousRow) {
    REQUIRE_SERVER();
    CallerIdDbConnection connection(ClientDir(), TestUser());
    connection.Connect();
    std::vector<CallerIdRecord> rows;
    ASSERT_TRUE(
        connection.ReadRecords(L"SELECT * FROM CallerIDNulls ORDER BY RecordId NULLS LAST", rows));
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].RecordId, 41);
    EXPECT_EQ(rows[0].Alias, L"Full row");
    EXPECT_EQ(rows[1].RecordId, 0);
    EXPECT_EQ(rows[1].Alias, L"");
    EXPECT_EQ(rows[1].Type, L"");
    EXPECT_EQ(rows[1].ID, L"");
    EXPECT_EQ(rows[1].Channel, 0);
}

TEST(CallerIdServer, QueryFailuresAnswerFalse) {
    REQUIRE_SERVER();
    CallerIdDbConnection connection(ClientDir(), TestUser());
    connection.Connect();
    auto rows = Marker();
    EXPECT_FALSE(connection.ReadRecords(L"SELECT FIRST(1) * from CallerID_Missing", rows));
    EXPECT_EQ(rows.size(), 1u) << "rows must stay untouched when the query cannot start";

    // A fifth column that is text: the row is not handed back half read.
    EXPECT_FALSE(connection.ReadRecords(L"SELECT * FROM CallerIDText", rows));
    EXPECT_TRUE(rows.empty());
    // Only four columns.
    EXPECT_FALSE(connection.ReadRecords(L"SELECT RecordId, Alias, Type, ID FROM CallerID", rows));
    EXPECT_FALSE(connection.ReadRecords(L"", rows));
    // The connection is still good afterwards.
    EXPECT_TRUE(connection.ReadRecords(L"SELECT * FROM CallerID", rows));
    EXPECT_EQ(rows.size(), 3u);
}

TEST(CallerIdServer, WrongPasswordIsRefusedAtConnect) {
    REQUIRE_SERVER();
    CallerIdDbConnection connection(ClientDir(),
                                    Settings(Env("TALVEX_TEST_FB_USER"), "not-the-password"));
    EXPECT_LT(ConnectFails(connection, ISC_LOGIN), 5.0);
    std::vector<CallerIdRecord> rows;
    EXPECT_FALSE(connection.ReadRecords(L"SELECT * FROM CallerID", rows));
}

TEST(CallerIdServer, PasswordIsNarrowedToTheLowByteOfEachCharacter) {
    REQUIRE_SERVER();
    DbmsConnectionSettings settings = TestUser();
    for (wchar_t& c : settings.password) c = static_cast<wchar_t>(0x0100 | c);  // U+01xx
    CallerIdDbConnection connection(ClientDir(), settings);
    EXPECT_NO_THROW(connection.Connect());
}

TEST(CallerIdServer, RoleTheUserLacksIsIgnoredAtAttachAndRefusedByTheQuery) {
    REQUIRE_SERVER();
    CallerIdDbConnection connection(ClientDir(), Settings(Env("TALVEX_TEST_FB_NOROLE_USER"),
                                                          Env("TALVEX_TEST_FB_NOROLE_PASSWORD")));
    EXPECT_NO_THROW(connection.Connect());
    std::vector<CallerIdRecord> rows;
    EXPECT_FALSE(connection.ReadRecords(L"SELECT FIRST(1) * from CallerID", rows));
}

TEST(CallerIdServer, WindowsAuthenticationFailsAtOnceWhateverTheSettingsHold) {
    REQUIRE_SERVER();
    DbmsConnectionSettings settings = TestUser();
    settings.useWindowsAuthentication = 1;
    // Credentials in the environment must not be used in its place either.
    setenv("ISC_USER", Env("TALVEX_TEST_FB_USER").c_str(), 1);
    setenv("ISC_PASSWORD", Env("TALVEX_TEST_FB_PASSWORD").c_str(), 1);
    CallerIdDbConnection connection(ClientDir(), settings);
    double seconds = ConnectFails(connection, ISC_LOGIN);
    unsetenv("ISC_USER");
    unsetenv("ISC_PASSWORD");
    EXPECT_LT(seconds, 5.0);
}

TEST(CallerIdNetwork, ClosedPortFailsAtOnce) {
    CallerIdDbConnection connection(ClientDir(), Settings("u", "p", std::to_string(ClosedPort())));
    EXPECT_LT(ConnectFails(connection, ISC_NETWORK_ERROR), 5.0);
}

TEST(CallerIdNetwork, PeerThatAcceptsButNeverAnswersEndsAfterTheHandshakeBound) {
    MuteListener listener;
    CallerIdDbConnection connection(ClientDir(),
                                    Settings("u", "p", std::to_string(listener.port())));
    double seconds = ConnectFails(connection, ISC_CONNECT_REJECT);
    EXPECT_GE(seconds, fbclient::Database::HANDSHAKE_TIMEOUT_SECONDS - 1.0);
    EXPECT_LT(seconds, fbclient::Database::HANDSHAKE_TIMEOUT_SECONDS + 10.0);
}

// A host that drops every packet: an address inside a network namespace made for the
// test, reached over a veth pair whose far end has no address, so SYNs vanish there.
class SilentHost {
public:
    SilentHost() {
        int id = static_cast<int>(getpid());
        m_namespace = "tvx-silent-" + std::to_string(id);
        m_link = "tvs" + std::to_string(id % 1000000);
        int subnet = 1 + id % 250;
        m_address = "169.254." + std::to_string(subnet) + ".2";
        std::string near = "169.254." + std::to_string(subnet) + ".1/30";
        Run("ip netns del " + m_namespace + " 2>/dev/null");
        m_ready = Run("ip netns add " + m_namespace) &&
                  Run("ip link add " + m_link + "a type veth peer name " + m_link + "b netns " +
                      m_namespace) &&
                  Run("ip addr add " + near + " dev " + m_link + "a") &&
                  Run("ip link set " + m_link + "a up") &&
                  Run("ip -n " + m_namespace + " link set " + m_link + "b up") &&
                  Run("ip neigh replace " + m_address + " lladdr $(ip -n " + m_namespace +
                      " -br link show " + m_link + "b | awk '{print $3}') dev " + m_link +
                      "a nud permanent");
    }
    ~SilentHost() {
        Run("ip link del " + m_link + "a 2>/dev/null");
        Run("ip netns del " + m_namespace + " 2>/dev/null");
    }
    bool ready() const { return m_ready; }
    const std::string& address() const { return m_address; }

private:
    static bool Run(const std::string& command) {
        return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
    }
    std::string m_namespace, m_link, m_address;
    bool m_ready = false;
};

TEST(CallerIdNetwork, SilentHostEndsWithinTheTcpConnectBound) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to create a network namespace";
    SilentHost host;
    if (!host.ready()) GTEST_SKIP() << "ip netns / veth not available here";
    CallerIdDbConnection connection(ClientDir(), Settings("u", "p", "3050", host.address()));
    double seconds = ConnectFails(connection, ISC_NETWORK_ERROR);
    EXPECT_GE(seconds, fbclient::Database::TCP_CONNECT_TIMEOUT_SECONDS - 1.0);
    EXPECT_LT(seconds, fbclient::Database::TCP_CONNECT_TIMEOUT_SECONDS + 5.0);
}

// The connection lost between Connect and ReadRecords: a second private server,
// stopped under the connection's feet.
TEST(CallerIdServer, ServerStoppedAfterConnectMakesReadRecordsFalse) {
    REQUIRE_SERVER();
    TempDir dir;
    std::string script = std::string(TALVEX_SOURCE_DIR) + "/scripts/firebird-test-server";
    std::string state = dir.file("state");
    std::string start = "TALVEX_FB_STATE_DIR='" + state + "' '" + script + "' start 2>/dev/null";
    FILE* pipe = popen(start.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string exports;
    char buffer[256];
    while (fgets(buffer, sizeof buffer, pipe)) exports += buffer;
    ASSERT_EQ(pclose(pipe), 0) << "second server did not start";

    auto value = [&](const std::string& name) {
        auto at = exports.find("export " + name + "=");
        if (at == std::string::npos) return std::string();
        at += 8 + name.size();
        return exports.substr(at, exports.find('\n', at) - at);
    };
    std::string stop = "TALVEX_FB_STATE_DIR='" + state + "' '" + script + "' stop";
    struct StopOnExit {  // a failed assertion must not leave the server running
        const std::string& command;
        ~StopOnExit() { (void)std::system(command.c_str()); }
    } stopOnExit{stop};
    {
        CallerIdDbConnection connection(
            ClientDir(), Settings(value("TALVEX_TEST_FB_USER"), value("TALVEX_TEST_FB_PASSWORD"),
                                  value("TALVEX_TEST_FB_PORT")));
        connection.Connect();
        std::vector<CallerIdRecord> rows;
        EXPECT_TRUE(connection.ReadRecords(L"SELECT * FROM CallerID", rows));
        ASSERT_EQ(std::system(stop.c_str()), 0);
        auto started = Clock::now();
        EXPECT_FALSE(connection.ReadRecords(L"SELECT * FROM CallerID", rows));
        EXPECT_LT(SecondsSince(started), 5.0);
        EXPECT_THROW(connection.Connect(), fbclient::SQLException);
    }
    EXPECT_FALSE(std::filesystem::exists(state));
}

// ---- the client layer beneath ----------------------------------------------------------

class FirebirdClient : public testing::Test {
protected:
    void SetUp() override {
        std::string missing = ServerMissing();
        if (!missing.empty()) GTEST_SKIP() << missing;
        m_client = std::make_unique<fbclient::Client>(Env("TALVEX_TEST_FB_CLIENT_DIR"));
    }
    std::shared_ptr<fbclient::Database> Attach(const std::string& database, const std::string& user,
                                               const std::string& password) {
        auto db = m_client->DatabaseFactory("127.0.0.1/" + Env("TALVEX_TEST_FB_PORT"), database,
                                            user, password, "AdmAdminRole", "", "");
        db->Connect();
        return db;
    }
    std::shared_ptr<fbclient::Statement> Query(std::shared_ptr<fbclient::Database> db,
                                               const std::string& sql) {
        auto transaction = fbclient::TransactionFactory(db, fbclient::AccessMode::Read,
                                                        fbclient::Isolation::ReadCommitted,
                                                        fbclient::LockResolution::Wait);
        transaction->Start();
        auto statement = fbclient::StatementFactory(db, transaction);
        statement->Execute(sql);
        return statement;
    }
    std::unique_ptr<fbclient::Client> m_client;
};

TEST_F(FirebirdClient, ReportsAFirebird3Client) {
    EXPECT_TRUE(m_client->CheckVersion());
    EXPECT_GE(m_client->Version(), 0x0300u);
}

TEST_F(FirebirdClient, UnknownAliasIsRefused) {
    // The test server allows aliases only (DatabaseAccess = None), so an unknown
    // name is refused as access to a database outside its list.
    try {
        Attach("NoSuchAlias", Env("TALVEX_TEST_FB_USER"), Env("TALVEX_TEST_FB_PASSWORD"));
        FAIL() << "attached to an unknown alias";
    } catch (const fbclient::SQLException& e) {
        EXPECT_EQ(e.EngineCode(), ISC_CONF_ACCESS_DENIED);
        EXPECT_NE(e.StatusText().find("NoSuchAlias"), std::string::npos) << e.StatusText();
    }
}

TEST_F(FirebirdClient, MissingRoleShowsAsNoPermissionOnTheTable) {
    auto db = Attach("CallerID_Database", Env("TALVEX_TEST_FB_NOROLE_USER"),
                     Env("TALVEX_TEST_FB_NOROLE_PASSWORD"));
    EXPECT_TRUE(db->Connected());
    try {
        Query(db, "SELECT * FROM CallerID");
        FAIL() << "query ran without the role";
    } catch (const fbclient::SQLException& e) {
        EXPECT_EQ(e.EngineCode(), ISC_NO_PRIV);
        EXPECT_NE(e.StatusText().find("CALLERID"), std::string::npos) << e.StatusText();
    }
}

TEST_F(FirebirdClient, GetChecksColumnsTypesAndRanges) {
    auto db =
        Attach("CallerID_Database", Env("TALVEX_TEST_FB_USER"), Env("TALVEX_TEST_FB_PASSWORD"));
    auto statement = Query(db,
                           "SELECT RecordId, Alias, CAST(Channel AS SMALLINT), "
                           "CAST(5000000000 AS BIGINT), CAST(1.5 AS NUMERIC(9,2)), "
                           "TRIM(Alias) FROM CallerID WHERE RecordId = 1");
    int64_t big = -1;
    EXPECT_THROW(statement->Get(1, big), fbclient::LogicException) << "before the first Fetch";
    ASSERT_TRUE(statement->Fetch());
    EXPECT_EQ(statement->Columns(), 6u);
    EXPECT_FALSE(statement->Get(1, big));
    EXPECT_EQ(big, 1);
    std::string text;
    EXPECT_FALSE(statement->Get(2, text));
    EXPECT_EQ(text, "Front desk      ") << "CHAR keeps its padding at this level";
    int32_t small = 0;
    EXPECT_FALSE(statement->Get(3, small));
    EXPECT_EQ(small, 7);
    EXPECT_THROW(statement->Get(4, small), fbclient::LogicException) << "does not fit";
    EXPECT_FALSE(statement->Get(4, big));
    EXPECT_EQ(big, 5000000000);
    EXPECT_THROW(statement->Get(5, big), fbclient::LogicException) << "scaled number";
    EXPECT_THROW(statement->Get(2, big), fbclient::LogicException) << "text as integer";
    EXPECT_THROW(statement->Get(1, text), fbclient::LogicException) << "integer as text";
    EXPECT_FALSE(statement->Get(6, text));
    EXPECT_EQ(text, "Front desk") << "VARCHAR has no padding";
    EXPECT_THROW(statement->Get(0, big), fbclient::LogicException);
    EXPECT_THROW(statement->Get(7, big), fbclient::LogicException);
    EXPECT_FALSE(statement->Fetch());
    EXPECT_THROW(statement->Get(1, big), fbclient::LogicException) << "after the last row";
}

TEST_F(FirebirdClient, HandlesOutliveEachOtherInAnyOrder) {
    std::shared_ptr<fbclient::Statement> statement;
    {
        auto db =
            Attach("CallerID_Database", Env("TALVEX_TEST_FB_USER"), Env("TALVEX_TEST_FB_PASSWORD"));
        statement = Query(db, "SELECT RecordId FROM CallerID ORDER BY RecordId");
    }
    ASSERT_TRUE(statement->Fetch());
    int64_t id = 0;
    statement->Get(1, id);
    EXPECT_EQ(id, 1);
    statement.reset();  // closes the cursor, rolls back, detaches
}

TEST_F(FirebirdClient, OperationsOutOfOrderAreLogicErrors) {
    auto db = m_client->DatabaseFactory("127.0.0.1/" + Env("TALVEX_TEST_FB_PORT"),
                                        "CallerID_Database", Env("TALVEX_TEST_FB_USER"),
                                        Env("TALVEX_TEST_FB_PASSWORD"), "AdmAdminRole", "", "");
    auto transaction = fbclient::TransactionFactory(db, fbclient::AccessMode::Read,
                                                    fbclient::Isolation::ReadCommitted,
                                                    fbclient::LockResolution::Wait);
    EXPECT_THROW(transaction->Start(), fbclient::LogicException) << "not connected";
    db->Connect();
    EXPECT_THROW(db->Connect(), fbclient::LogicException);
    auto statement = fbclient::StatementFactory(db, transaction, "SELECT * FROM CallerID");
    EXPECT_THROW(statement->Execute(), fbclient::LogicException) << "transaction not started";
    transaction->Start();
    statement->Execute();
    EXPECT_TRUE(statement->Fetch());
    statement.reset();
    transaction->Commit();
    EXPECT_THROW(transaction->Commit(), fbclient::LogicException);
    db->Disconnect();
    EXPECT_FALSE(db->Connected());
}
