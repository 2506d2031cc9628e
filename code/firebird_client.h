#pragma once
// A small client for Firebird servers over Firebird's own object interface.
//
// The client library (libfbclient.so.2) is loaded at run time from a folder the caller
// chooses, so the program links against nothing of Firebird's and runs, with a clear
// error, on a machine that has no client installed. A loaded library stays loaded for
// the life of the process: fbclient keeps helper threads and exit handlers that must
// not outlive its code.
//
// Handles are shared: a transaction keeps its database alive and a statement keeps its
// transaction and database alive, so they may be released in any order. Every
// handle ends what it holds when its last owner lets go (a statement closes its cursor,
// a transaction that was not ended is rolled back, a database detaches), and falls back
// to dropping the server objects when the server cannot be reached.
//
// One handle may be used by one thread at a time; different databases may be used in
// parallel.
//
// Errors are exceptions derived from fbclient::Exception:
//  - SQLException: the client library or the server refused an operation; carries
//    Firebird's status text and its primary error code (e.g. 335544472 for a refused
//    login, 335544721 for a network failure).
//  - LogicException: the operation cannot be carried out as asked (library that cannot
//    be loaded, a column number out of range, a column of another type, a handle used
//    out of order).

#include <cstdint>
#include <exception>
#include <memory>
#include <string>
#include <vector>

namespace Firebird {
class IMaster;
class IStatus;
class IAttachment;
class ITransaction;
class IStatement;
class IResultSet;
class IMessageMetadata;
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
    // The operation that failed, e.g. "Database::Connect".
    const std::string& Origin() const { return m_origin; }

protected:
    Exception(std::string origin, const std::string& message);

private:
    std::string m_origin;
    std::string m_message;
};

class SQLException : public Exception {
public:
    SQLException(std::string origin, const std::string& statusText, long engineCode);
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
    LogicException(std::string origin, const std::string& message);
};

class Database;
class Transaction;
class Statement;
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
    const std::string& Folder() const { return m_folder; }

    // A database handle, not attached yet. `server` is a host name or address,
    // optionally with "/port" (Firebird's host/port form); empty means a local
    // database. An empty user asks for trusted authentication. An empty charset
    // requests none (connection character set NONE). `createParams` is kept for
    // the creation of databases, which this layer does not offer.
    std::shared_ptr<Database> DatabaseFactory(const std::string& server,
                                              const std::string& database, const std::string& user,
                                              const std::string& password, const std::string& role,
                                              const std::string& charset,
                                              const std::string& createParams) const;

private:
    std::string m_folder;
    std::shared_ptr<const Library> m_library;
};

class Database : public std::enable_shared_from_this<Database> {
public:
    Database(std::shared_ptr<const Library> library, std::string server, std::string database,
             std::string user, std::string password, std::string role, std::string charset,
             std::string createParams);
    ~Database();
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;

    // Attaches. Before Firebird's own attach, the TCP connection to the server is tried
    // with a deadline (TCP_CONNECT_TIMEOUT_SECONDS), because Firebird's connect timeout
    // covers only its handshake, and the kernel may wait minutes for a silent host;
    // the handshake itself is bounded by HANDSHAKE_TIMEOUT_SECONDS.
    // Throws SQLException when refused; LogicException when already attached.
    void Connect();
    bool Connected() const { return m_attachment != nullptr; }
    // Detaches; a failure to detach cleanly still drops the attachment.
    void Disconnect();

    const std::string& ConnectionString() const { return m_connectionString; }
    // The server's build text (e.g. "LI-V3.0.11.33703 Firebird 3.0"); empty when not
    // attached. Throws SQLException when the server does not answer.
    std::string ServerVersion() const;

    static constexpr int TCP_CONNECT_TIMEOUT_SECONDS = 15;
    static constexpr int HANDSHAKE_TIMEOUT_SECONDS = 15;

private:
    friend class Transaction;
    friend class Statement;

    std::shared_ptr<const Library> m_library;
    std::string m_server;
    std::string m_database;
    std::string m_user;
    std::string m_password;
    std::string m_role;
    std::string m_charset;
    std::string m_createParams;
    std::string m_connectionString;
    Firebird::IAttachment* m_attachment = nullptr;
};

enum class AccessMode { Read, Write };
enum class Isolation { Concurrency, Consistency, ReadCommitted, ReadCommittedRecordVersion };
enum class LockResolution { Wait, NoWait };

std::shared_ptr<Transaction> TransactionFactory(std::shared_ptr<Database> database,
                                                AccessMode access, Isolation isolation,
                                                LockResolution lockResolution);

class Transaction {
public:
    Transaction(std::shared_ptr<Database> database, AccessMode access, Isolation isolation,
                LockResolution lockResolution);
    // Rolls back a transaction still running.
    ~Transaction();
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;

    // Throws LogicException when the database is not attached or the transaction runs.
    void Start();
    bool Started() const { return m_transaction != nullptr; }
    void Commit();
    void Rollback();

private:
    friend class Statement;
    std::shared_ptr<Database> m_database;
    std::vector<unsigned char> m_tpbTags;
    Firebird::ITransaction* m_transaction = nullptr;
};

std::shared_ptr<Statement> StatementFactory(std::shared_ptr<Database> database,
                                            std::shared_ptr<Transaction> transaction,
                                            const std::string& sql = std::string());

class Statement {
public:
    Statement(std::shared_ptr<Database> database, std::shared_ptr<Transaction> transaction,
              std::string sql);
    ~Statement();
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    // Prepares and executes `sql` (or the text given at construction when empty);
    // a query opens its cursor. Ends whatever the statement ran before.
    void Execute(const std::string& sql = std::string());
    // Fetches the next row: true when there is one, false after the last.
    bool Fetch();
    // Number of columns of the current query.
    unsigned Columns() const { return static_cast<unsigned>(m_columns.size()); }

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
    const Column& Describe(unsigned column, const char* origin) const;
    bool IsNull(const Column& column) const;

    std::shared_ptr<Database> m_database;
    std::shared_ptr<Transaction> m_transaction;
    std::string m_sql;
    Firebird::IStatement* m_statement = nullptr;
    Firebird::IResultSet* m_cursor = nullptr;
    Firebird::IMessageMetadata* m_metadata = nullptr;
    Firebird::IStatus* m_status = nullptr;
    std::vector<Column> m_columns;
    std::vector<unsigned char> m_row;
    bool m_rowValid = false;
};

}  // namespace fbclient
