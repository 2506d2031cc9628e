#pragma once
// A small client for Firebird servers over Firebird's own object interface, sized to what
// the caller-ID connection does: attach with a bounded connect, read one query's rows.
//
// The client library (libfbclient.so.2) is loaded at run time from a folder the caller
// chooses, so the program links against nothing of Firebird's and runs, with a clear
// error, on a machine that has no client installed. A loaded library stays loaded for
// the life of the process: fbclient keeps helper threads and exit handlers that must
// not outlive its code.
//
// A query keeps its database alive, so the two may be released in any order; each ends
// what it holds when its last owner lets go (the query closes its cursor and rolls its
// transaction back, the database detaches), and falls back to dropping the server
// objects when the server cannot be reached. One handle may be used by one thread at a
// time; different databases may be used in parallel.
//
// Errors are exceptions derived from fbclient::Exception:
//  - SQLException: the client library or the server refused an operation; carries
//    Firebird's status text and its primary error code (e.g. 335544472 for a refused
//    login, 335544721 for a network failure).
//  - LogicException: the operation cannot be carried out as asked (library that cannot
//    be loaded, a column number out of range, a column of another type).

#include <cstdint>
#include <exception>
#include <memory>
#include <string>
#include <vector>

namespace Firebird {
class IStatus;
class IAttachment;
class ITransaction;
class IStatement;
class IResultSet;
}  // namespace Firebird

namespace fbclient {

// The file name of the client library, looked for in the folder given to Client.
inline constexpr const char* CLIENT_LIBRARY_FILE = "libfbclient.so.2";

// Oldest client that offers the object interface: Firebird 3.0, as major << 8 | minor.
inline constexpr unsigned MINIMUM_CLIENT_VERSION = 0x0300;

// The folder the client library is taken from: `executableFolder` when it holds the
// library, else the folder from which the system's loader loads it, else
// `currentFolder` (not checked: the caller reports the library missing there).
std::string FindClientLibraryFolder(const std::string& executableFolder,
                                    const std::string& currentFolder);

class Exception : public std::exception {
public:
    const char* what() const noexcept override { return m_message.c_str(); }

protected:
    Exception(const std::string& origin, const std::string& message)
        : m_message(origin + ": " + message) {}

private:
    std::string m_message;
};

class SQLException : public Exception {
public:
    SQLException(const std::string& origin, const std::string& statusText, long engineCode)
        : Exception(origin, statusText), m_statusText(statusText), m_engineCode(engineCode) {}
    // Firebird's status vector as text, one line per entry ("...\n-...").
    const std::string& StatusText() const { return m_statusText; }
    // The primary Firebird error code (isc_* value from ibase.h).
    long EngineCode() const { return m_engineCode; }

private:
    std::string m_statusText;
    long m_engineCode;
};

class LogicException : public Exception {
public:
    LogicException(const std::string& origin, const std::string& message)
        : Exception(origin, message) {}
};

class Database;
struct Library;

// The client library loaded from one folder.
class Client {
public:
    // Loads <folder>/libfbclient.so.2 (an empty folder means the system loader's search).
    // Throws LogicException when the file cannot be loaded as a library.
    explicit Client(const std::string& folder);

    // The version the client reports (major << 8 | minor); 0 when it has no object
    // interface, i.e. is older than Firebird 3.
    unsigned Version() const;
    // True when the client offers the object interface this layer is written for.
    bool CheckVersion() const { return Version() >= MINIMUM_CLIENT_VERSION; }
    // The client's own build text (e.g. "LI-V3.0.11.33703 Firebird 3.0"), else the
    // version as "major.minor".
    std::string VersionText() const;

    // Attaches to `database` on `server`, a host name or address optionally followed by
    // "/port" (Firebird's host/port form). An empty user asks for trusted
    // authentication. Before Firebird's own attach, the TCP connection to the server is
    // tried with a deadline (TCP_CONNECT_TIMEOUT_SECONDS), because Firebird's connect
    // timeout covers only its handshake and the kernel may wait minutes for a silent
    // host; the handshake itself is bounded by HANDSHAKE_TIMEOUT_SECONDS.
    // Throws SQLException when refused, LogicException when the client is too old.
    std::shared_ptr<Database> Connect(const std::string& server, const std::string& database,
                                      const std::string& user, const std::string& password,
                                      const std::string& role) const;

private:
    std::string m_folder;
    std::shared_ptr<const Library> m_library;
};

class Database {
public:
    Database(std::shared_ptr<const Library> library, Firebird::IAttachment* attachment);
    ~Database();
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;

    // The server's build text (e.g. "LI-V3.0.11.33703 Firebird 3.0"). Throws
    // SQLException when the server does not answer.
    std::string ServerVersion() const;

    static constexpr int TCP_CONNECT_TIMEOUT_SECONDS = 15;
    static constexpr int HANDSHAKE_TIMEOUT_SECONDS = 15;

private:
    friend class Query;
    std::shared_ptr<const Library> m_library;
    Firebird::IAttachment* m_attachment;
};

// One SELECT run in a read-only, read-committed transaction of its own, with its cursor
// open. Throws SQLException when the server refuses it (anything that is not a query
// included: it has no cursor to open, and the transaction allows no change).
class Query {
public:
    Query(std::shared_ptr<Database> database, const std::string& sql);
    ~Query();
    Query(const Query&) = delete;
    Query& operator=(const Query&) = delete;

    // Fetches the next row: true when there is one, false after the last (when Get must
    // no longer be called).
    bool Fetch();

    // Read column `column` (1-based) of the current row. Each returns true when the
    // value is SQL NULL, and then gives 0 or an empty text. Integer columns of scale 0
    // (SMALLINT, INTEGER, BIGINT) read as integers, text columns (CHAR, VARCHAR) as
    // text, byte for byte as the server sent them (CHAR keeps its padding). Anything
    // else, a value that does not fit, or a column out of range throws LogicException.
    bool Get(unsigned column, int64_t& value) const;
    bool Get(unsigned column, int32_t& value) const;
    bool Get(unsigned column, std::string& value) const;

private:
    struct Column {
        unsigned type;
        int scale;
        unsigned length;
        unsigned offset;
        unsigned nullOffset;
    };

    void Close() noexcept;
    const Column& Describe(unsigned column) const;
    bool IsNull(const Column& column) const;

    std::shared_ptr<Database> m_database;
    Firebird::IStatus* m_status = nullptr;
    Firebird::ITransaction* m_transaction = nullptr;
    Firebird::IStatement* m_statement = nullptr;
    Firebird::IResultSet* m_cursor = nullptr;
    std::vector<Column> m_columns;
    std::vector<unsigned char> m_row;
};

}  // namespace fbclient
