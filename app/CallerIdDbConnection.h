#pragma once
// The connection to the caller-ID database that a Firebird server keeps on the ADM
// server: made from the settings typed on the caller-ID page, used by the connection
// test to attach and read rows of the CallerID table.

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace fbclient {
class Client;
class Database;
}  // namespace fbclient

struct DbmsConnectionSettings {
    uint32_t useWindowsAuthentication = 0;  // nonzero: trusted login, no user name sent
    std::wstring userName;
    std::wstring password;
    std::wstring server;  // computer name or address of the ADM server
    std::wstring port;    // decimal TCP port of the DBMS
};

struct CallerIdRecord {
    int64_t RecordId = 0;
    std::wstring Alias;
    std::wstring Type;
    std::wstring ID;
    int32_t Channel = 0;
};

class CallerIdDbConnection {
public:
    // The client library's file name, looked for in the client library folder.
    static constexpr const wchar_t* CLIENT_LIBRARY_FILE = L"libfbclient.so.2";

    // Unavailable (Connect throws, ReadRecords answers false) when the folder holds no
    // client library or the library is older than Firebird 3. A file of that name that
    // cannot be loaded as a library throws fbclient::LogicException.
    CallerIdDbConnection(const std::wstring& clientLibraryFolder,
                         const DbmsConnectionSettings& settings);
    ~CallerIdDbConnection();
    CallerIdDbConnection(const CallerIdDbConnection&) = delete;
    CallerIdDbConnection& operator=(const CallerIdDbConnection&) = delete;

    // True when folder + "/" + CLIENT_LIBRARY_FILE names an existing entry. One trailing
    // separator of the folder is ignored.
    static bool ClientLibraryExists(const std::wstring& folder);

    // Attaches to the database with a fresh handle. Throws std::runtime_error when the
    // object is unavailable, fbclient::SQLException when the server or the client
    // refuses (no answer within the connect bound included).
    void Connect();

    // Runs `sql` and replaces `rows` with every row it yields (columns: 64-bit integer,
    // three texts, 32-bit integer; trailing white space of the texts dropped, SQL NULL
    // read as 0 or empty). False when unavailable, not connected, or the query fails;
    // rows read before a failure stay in `rows`, and `rows` is untouched when the
    // query could not start.
    bool ReadRecords(const std::wstring& sql, std::vector<CallerIdRecord>& rows);

    // The Firebird connection string this object attaches to (host/port:alias).
    std::string ConnectionString() const;

    // For a person looking into a failure: the client library's build text (empty when
    // none was loaded), the server's (empty unless connected), and Firebird's text and
    // error code for the last ReadRecords that answered false (empty and 0 otherwise).
    std::string ClientVersion() const;
    std::string ServerVersion() const;
    const std::string& LastReadErrorText() const { return m_readErrorText; }
    long LastReadErrorCode() const { return m_readErrorCode; }

private:
    std::shared_ptr<fbclient::Database> MakeDatabase() const;

    uint32_t m_available = 0;
    uint32_t m_useWindowsAuthentication = 0;
    std::string m_userName;
    std::string m_password;
    std::string m_serverName;
    std::shared_ptr<fbclient::Client> m_client;
    std::shared_ptr<fbclient::Database> m_database;
    std::string m_readErrorText;
    long m_readErrorCode = 0;
    mutable std::recursive_mutex m_lock;
};

// Text helpers of the connection, exposed for their tests.
namespace caller_id_text {
// Each UTF-16 code unit of the text becomes one byte, its low 8 bits.
std::string CopyToNarrow(const std::wstring& text);
// Column bytes (UTF-8, the 8-bit encoding of this system) to wide text without trailing
// white space; a byte that is not part of valid UTF-8 keeps its value as a code point.
void WidenTrimmed(const std::string& bytes, std::wstring& text);
}  // namespace caller_id_text
