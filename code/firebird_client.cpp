#include "code/firebird_client.h"

#include <dlfcn.h>
#include <firebird/Interface.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <limits>
#include <map>
#include <mutex>
#include <utility>

namespace fbclient {

struct Library {
    void* handle = nullptr;
    Firebird::IMaster* master = nullptr;  // owned by the library, never released
    Firebird::IUtil* util = nullptr;
    Firebird::IProvider* dispatcher = nullptr;  // kept for the life of the process
    unsigned version = 0;
    std::string versionText;
};

namespace {

using Firebird::FbException;
using Firebird::ThrowStatusWrapper;

// A status object of our own for the length of one operation.
class ScopedStatus {
public:
    explicit ScopedStatus(const Library& library) : m_wrapper(library.master->getStatus()) {}
    ~ScopedStatus() { m_wrapper.dispose(); }
    ScopedStatus(const ScopedStatus&) = delete;
    ScopedStatus& operator=(const ScopedStatus&) = delete;
    ThrowStatusWrapper* get() { return &m_wrapper; }

private:
    ThrowStatusWrapper m_wrapper;
};

SQLException MakeSql(const Library& library, const char* origin, const FbException& e) {
    char text[2048];
    library.util->formatStatus(text, sizeof text, e.getStatus());
    const intptr_t* errors = e.getStatus()->getErrors();
    long code = (errors[0] == isc_arg_gds) ? static_cast<long>(errors[1]) : 0;
    return SQLException(origin, text, code);
}

[[noreturn]] void ThrowSql(const Library& library, const char* origin, const FbException& e) {
    throw MakeSql(library, origin, e);
}

struct Releaser {
    template <typename T>
    void operator()(T* object) const {
        object->release();
    }
};

struct XpbDisposer {
    void operator()(Firebird::IXpbBuilder* builder) const { builder->dispose(); }
};
using XpbBuilder = std::unique_ptr<Firebird::IXpbBuilder, XpbDisposer>;

std::shared_ptr<const Library> LoadClientLibrary(const std::string& folder) {
    static std::mutex lock;
    static std::map<std::string, std::shared_ptr<const Library>> loaded;

    std::string path =
        folder.empty() ? std::string(CLIENT_LIBRARY_FILE) : folder + "/" + CLIENT_LIBRARY_FILE;
    std::lock_guard<std::mutex> guard(lock);
    if (auto found = loaded.find(path); found != loaded.end()) return found->second;

    auto library = std::make_shared<Library>();
    library->handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (library->handle == nullptr) {
        const char* reason = dlerror();
        throw LogicException("Client", "cannot load the Firebird client library " + path + ": " +
                                           (reason ? reason : "unknown reason"));
    }
    // Clients before Firebird 3 have only the old ISC interface, and no master.
    using GetMaster = Firebird::IMaster* (*)();
    auto getMaster = reinterpret_cast<GetMaster>(dlsym(library->handle, "fb_get_master_interface"));
    if (getMaster != nullptr) {
        library->master = getMaster();
        if (library->master != nullptr) {
            library->util = library->master->getUtilInterface();
            library->version = library->util->getClientVersion();
            if (library->version >= MINIMUM_CLIENT_VERSION)
                library->dispatcher = library->master->getDispatcher();
        }
    }
    using GetClientVersion = void (*)(char*);
    if (auto getText =
            reinterpret_cast<GetClientVersion>(dlsym(library->handle, "isc_get_client_version"))) {
        char text[256] = {};  // the client writes at most a short line
        getText(text);
        library->versionText = text;
    }
    if (library->versionText.empty())
        library->versionText =
            std::to_string(library->version >> 8) + "." + std::to_string(library->version & 0xFF);
    // Never unloaded: fbclient's threads and exit handlers would run in unmapped code.
    loaded.emplace(path, library);
    return library;
}

class Socket {
public:
    explicit Socket(int fd) : m_fd(fd) {}
    ~Socket() {
        if (m_fd >= 0) ::close(m_fd);
    }
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;
    int fd() const { return m_fd; }

private:
    int m_fd;
};

struct AddrInfoDeleter {
    void operator()(addrinfo* list) const { freeaddrinfo(list); }
};

// Splits Firebird's "host", "host/port" or "[v6 address]/port" form.
void SplitServer(const std::string& server, std::string& host, std::string& port) {
    std::string::size_type slash;
    if (!server.empty() && server.front() == '[') {
        std::string::size_type close = server.find(']');
        host = server.substr(1, close == std::string::npos ? std::string::npos : close - 1);
        slash = close == std::string::npos ? std::string::npos : server.find('/', close);
    } else {
        slash = server.find('/');
        host = server.substr(0, slash);
    }
    port = slash == std::string::npos ? std::string() : server.substr(slash + 1);
    if (port.empty()) port = "3050";  // Firebird's default, as the client itself assumes
}

// Result of one bounded TCP connect: 0 when connected, otherwise an errno value
// (ETIMEDOUT when the deadline passed).
int ConnectBounded(const addrinfo& address, std::chrono::steady_clock::time_point deadline) {
    Socket sock(::socket(address.ai_family, address.ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC,
                         address.ai_protocol));
    if (sock.fd() < 0) return errno;
    if (::connect(sock.fd(), address.ai_addr, address.ai_addrlen) == 0) return 0;
    if (errno != EINPROGRESS) return errno;
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return ETIMEDOUT;
        pollfd waiting{sock.fd(), POLLOUT, 0};
        int ready = ::poll(&waiting, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR) continue;
        if (ready < 0) return errno;
        if (ready == 0) return ETIMEDOUT;
        int error = 0;
        socklen_t size = sizeof error;
        if (::getsockopt(sock.fd(), SOL_SOCKET, SO_ERROR, &error, &size) != 0) return errno;
        return error;
    }
}

// Fails fast, as Firebird's own network error, when no address of the server accepts a
// TCP connection before the deadline.
void ProbeServer(const std::string& server, int timeoutSeconds) {
    std::string host, port;
    SplitServer(server, host, port);
    if (host.empty()) return;  // Firebird decides what an empty host means

    const std::string failure = "Unable to complete network request to host \"" + host + "\".\n";
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    int resolved = ::getaddrinfo(host.c_str(), port.c_str(), &hints, &found);
    if (resolved != 0) {
        throw SQLException("Database::Connect",
                           failure + "-Failed to locate host machine.\n-" + gai_strerror(resolved),
                           isc_network_error);
    }
    std::unique_ptr<addrinfo, AddrInfoDeleter> addresses(found);

    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
    int error = ETIMEDOUT;
    for (addrinfo* address = addresses.get(); address != nullptr; address = address->ai_next) {
        error = ConnectBounded(*address, deadline);
        if (error == 0) return;
        if (error == ETIMEDOUT) break;
    }
    std::string reason = error == ETIMEDOUT
                             ? "no answer within " + std::to_string(timeoutSeconds) + " seconds"
                             : std::strerror(error);
    throw SQLException("Database::Connect",
                       failure + "-Failed to establish a connection.\n-" + reason,
                       isc_network_error);
}

}  // namespace

// ---------------------------------------------------------------------------------------

std::string FindClientLibraryFolder(const std::string& executableFolder,
                                    const std::string& currentFolder) {
    std::string beside = executableFolder + "/" + CLIENT_LIBRARY_FILE;
    if (!executableFolder.empty() && ::access(beside.c_str(), F_OK) == 0) return executableFolder;
    // Ask the loader itself, so LD_LIBRARY_PATH, the ld.so cache and multiarch folders
    // count as they would for a linked program. The library stays loaded: it is the one
    // the connection loads next, and unloading fbclient is unsafe.
    if (void* handle = dlopen(CLIENT_LIBRARY_FILE, RTLD_LAZY | RTLD_LOCAL)) {
        char origin[PATH_MAX] = {};
        if (dlinfo(handle, RTLD_DI_ORIGIN, origin) == 0 && origin[0] != '\0') return origin;
    }
    return currentFolder;
}

// ---------------------------------------------------------------------------------------

Client::Client(const std::string& folder)
    : m_folder(folder), m_library(LoadClientLibrary(folder)) {}

unsigned Client::Version() const { return m_library->version; }

std::string Client::VersionText() const { return m_library->versionText; }

std::shared_ptr<Database> Client::Connect(const std::string& server, const std::string& database,
                                          const std::string& user, const std::string& password,
                                          const std::string& role) const {
    if (!CheckVersion())
        throw LogicException("Client::Connect",
                             "the client library in \"" + m_folder +
                                 "\" is older than Firebird 3 and has no object interface");
    ProbeServer(server, Database::TCP_CONNECT_TIMEOUT_SECONDS);

    const Library& library = *m_library;
    const std::string connectionString = server.empty() ? database : server + ":" + database;
    ScopedStatus status(library);
    try {
        XpbBuilder dpb(
            library.util->getXpbBuilder(status.get(), Firebird::IXpbBuilder::DPB, nullptr, 0));
        if (user.empty()) {
            // Also keeps ISC_USER/ISC_PASSWORD from the environment out of the login.
            dpb->insertTag(status.get(), isc_dpb_trusted_auth);
        } else {
            dpb->insertString(status.get(), isc_dpb_user_name, user.c_str());
            dpb->insertString(status.get(), isc_dpb_password, password.c_str());
        }
        if (!role.empty()) dpb->insertString(status.get(), isc_dpb_sql_role_name, role.c_str());
        dpb->insertInt(status.get(), isc_dpb_connect_timeout, Database::HANDSHAKE_TIMEOUT_SECONDS);
        Firebird::IAttachment* attachment = library.dispatcher->attachDatabase(
            status.get(), connectionString.c_str(), dpb->getBufferLength(status.get()),
            dpb->getBuffer(status.get()));
        return std::make_shared<Database>(m_library, attachment);
    } catch (const FbException& e) {
        ThrowSql(library, "Database::Connect", e);
    }
}

// ---------------------------------------------------------------------------------------

Database::Database(std::shared_ptr<const Library> library, Firebird::IAttachment* attachment)
    : m_library(std::move(library)), m_attachment(attachment) {}

Database::~Database() {
    ScopedStatus status(*m_library);
    try {
        m_attachment->detach(status.get());
    } catch (const FbException&) {
        m_attachment->release();  // drops the connection without a clean detach
    }
}

std::string Database::ServerVersion() const {
    const unsigned char items[] = {isc_info_firebird_version, isc_info_end};
    unsigned char answer[1024] = {};
    ScopedStatus status(*m_library);
    try {
        m_attachment->getInfo(status.get(), sizeof items, items, sizeof answer, answer);
    } catch (const FbException& e) {
        ThrowSql(*m_library, "Database::ServerVersion", e);
    }
    // Clusters of tag, 2-byte little-endian length, value. The version's value is a
    // count and that many length-prefixed texts; the first is the server's own.
    const unsigned char* at = answer;
    const unsigned char* const end = answer + sizeof answer;
    while (at + 3 <= end && *at != isc_info_end && *at != isc_info_truncated) {
        const unsigned char tag = at[0];
        const size_t length = static_cast<size_t>(at[1]) | static_cast<size_t>(at[2]) << 8;
        const unsigned char* value = at + 3;
        if (length > static_cast<size_t>(end - value)) break;
        if (tag == isc_info_firebird_version && length >= 2 && value[0] >= 1 &&
            value[1] <= length - 2)
            return std::string(reinterpret_cast<const char*>(value + 2), value[1]);
        at = value + length;
    }
    return {};
}

// ---------------------------------------------------------------------------------------

Query::Query(std::shared_ptr<Database> database, const std::string& sql)
    : m_database(std::move(database)) {
    const Library& library = *m_database->m_library;
    Firebird::IAttachment* attachment = m_database->m_attachment;
    // One status for every call of this query: fetching must not allocate per row.
    m_status = library.master->getStatus();
    ThrowStatusWrapper status(m_status);
    try {
        // Read only, and what is committed now; waiting for a writer rather than failing.
        XpbBuilder tpb(
            library.util->getXpbBuilder(&status, Firebird::IXpbBuilder::TPB, nullptr, 0));
        for (unsigned char tag :
             {isc_tpb_read, isc_tpb_read_committed, isc_tpb_no_rec_version, isc_tpb_wait})
            tpb->insertTag(&status, tag);
        m_transaction = attachment->startTransaction(&status, tpb->getBufferLength(&status),
                                                     tpb->getBuffer(&status));
        m_statement = attachment->prepare(&status, m_transaction, 0, sql.c_str(), SQL_DIALECT_V6,
                                          Firebird::IStatement::PREPARE_PREFETCH_METADATA);
        std::unique_ptr<Firebird::IMessageMetadata, Releaser> metadata(
            m_statement->getOutputMetadata(&status));
        const unsigned count = metadata->getCount(&status);
        m_columns.reserve(count);
        for (unsigned i = 0; i < count; ++i) {
            // The low bit only says whether the column may be NULL.
            m_columns.push_back(
                Column{metadata->getType(&status, i) & ~1u, metadata->getScale(&status, i),
                       metadata->getLength(&status, i), metadata->getOffset(&status, i),
                       metadata->getNullOffset(&status, i)});
        }
        m_row.assign(metadata->getMessageLength(&status), 0);
        m_cursor =
            m_statement->openCursor(&status, m_transaction, nullptr, nullptr, metadata.get(), 0);
    } catch (const FbException& e) {
        SQLException refused = MakeSql(library, "Query", e);
        Close();
        throw refused;
    } catch (...) {
        Close();
        throw;
    }
}

Query::~Query() { Close(); }

void Query::Close() noexcept {
    if (m_status == nullptr) return;
    ThrowStatusWrapper status(m_status);
    if (m_cursor != nullptr) {
        try {
            m_cursor->close(&status);
        } catch (const FbException&) {
            m_cursor->release();
        }
    }
    if (m_statement != nullptr) {
        try {
            m_statement->free(&status);
        } catch (const FbException&) {
            m_statement->release();
        }
    }
    if (m_transaction != nullptr) {
        try {
            m_transaction->rollback(&status);
        } catch (const FbException&) {
            m_transaction->release();
        }
    }
    m_cursor = nullptr;
    m_statement = nullptr;
    m_transaction = nullptr;
    m_status->dispose();
    m_status = nullptr;
}

bool Query::Fetch() {
    ThrowStatusWrapper status(m_status);
    try {
        return m_cursor->fetchNext(&status, m_row.data()) == Firebird::IStatus::RESULT_OK;
    } catch (const FbException& e) {
        ThrowSql(*m_database->m_library, "Query::Fetch", e);
    }
}

const Query::Column& Query::Describe(unsigned column) const {
    if (column < 1 || column > m_columns.size())
        throw LogicException("Query::Get", "column " + std::to_string(column) +
                                               " out of range 1.." +
                                               std::to_string(m_columns.size()));
    return m_columns[column - 1];
}

bool Query::IsNull(const Column& column) const {
    int16_t indicator;
    std::memcpy(&indicator, &m_row[column.nullOffset], sizeof indicator);
    return indicator != 0;
}

bool Query::Get(unsigned column, int64_t& value) const {
    const Column& described = Describe(column);
    bool integer =
        described.type == SQL_SHORT || described.type == SQL_LONG || described.type == SQL_INT64;
    if (!integer || described.scale != 0)
        throw LogicException("Query::Get",
                             "column " + std::to_string(column) + " is not an integer");
    if (IsNull(described)) {
        value = 0;
        return true;
    }
    const unsigned char* data = &m_row[described.offset];
    if (described.type == SQL_SHORT) {
        int16_t v;
        std::memcpy(&v, data, sizeof v);
        value = v;
    } else if (described.type == SQL_LONG) {
        int32_t v;
        std::memcpy(&v, data, sizeof v);
        value = v;
    } else {
        std::memcpy(&value, data, sizeof value);
    }
    return false;
}

bool Query::Get(unsigned column, int32_t& value) const {
    int64_t wide = 0;
    bool null = Get(column, wide);
    if (wide < std::numeric_limits<int32_t>::min() || wide > std::numeric_limits<int32_t>::max())
        throw LogicException("Query::Get", "column " + std::to_string(column) + " value " +
                                               std::to_string(wide) +
                                               " does not fit a 32-bit integer");
    value = static_cast<int32_t>(wide);
    return null;
}

bool Query::Get(unsigned column, std::string& value) const {
    const Column& described = Describe(column);
    if (described.type != SQL_TEXT && described.type != SQL_VARYING)
        throw LogicException("Query::Get", "column " + std::to_string(column) + " is not text");
    if (IsNull(described)) {
        value.clear();
        return true;
    }
    const char* data = reinterpret_cast<const char*>(&m_row[described.offset]);
    if (described.type == SQL_TEXT) {
        value.assign(data, described.length);
    } else {
        uint16_t length;
        std::memcpy(&length, data, sizeof length);
        value.assign(data + sizeof length, length < described.length ? length : described.length);
    }
    return false;
}

}  // namespace fbclient
