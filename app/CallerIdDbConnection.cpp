#include "app/CallerIdDbConnection.h"

#include <stdexcept>

#include "code/char2wchar.h"
#include "code/filex.h"
#include "code/firebird_client.h"

namespace {

const char* const DATABASE_NAME = "CallerID_Database";
const char* const SQL_ROLE = "AdmAdminRole";
constexpr size_t INITIAL_ROWS = 20000;

// Folder names are file-system bytes: the process locale's encoding, not the low bytes.
bool FolderToBytes(const std::wstring& folder, std::string& bytes) {
    return wchar_to_mbchar(folder.c_str(), bytes);
}

bool IsTrailingSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

}  // namespace

namespace caller_id_text {

std::string CopyToNarrow(const std::wstring& text) {
    // Each UTF-16 unit gives its low byte.
    std::string narrow;
    for (const char16_t unit : wide_to_utf16(text))
        narrow.push_back(static_cast<char>(unit & 0xFF));
    return narrow;
}

void WidenTrimmed(const std::string& bytes, std::wstring& text) {
    size_t end = bytes.size();
    while (end > 0 && IsTrailingSpace(bytes[end - 1])) --end;
    text = utf8_to_wide_lenient(std::string_view(bytes.data(), end));
}

}  // namespace caller_id_text

using caller_id_text::CopyToNarrow;

CallerIdDbConnection::CallerIdDbConnection(const std::wstring& clientLibraryFolder,
                                           const DbmsConnectionSettings& settings) {
    if (!ClientLibraryExists(clientLibraryFolder)) return;
    std::string folder;
    if (!FolderToBytes(clientLibraryFolder, folder)) return;
    // A file that is there but cannot be loaded throws to the caller.
    m_client = std::make_shared<fbclient::Client>(folder);
    if (!m_client->CheckVersion()) {
        m_client.reset();
        return;
    }
    m_available = 1;
    m_useWindowsAuthentication = settings.useWindowsAuthentication;
    m_serverName = CopyToNarrow(settings.server + L"/" + settings.port);
    if (m_useWindowsAuthentication == 0) {
        m_userName = CopyToNarrow(settings.userName);
        m_password = CopyToNarrow(settings.password);
    }
}

CallerIdDbConnection::~CallerIdDbConnection() = default;

bool CallerIdDbConnection::ClientLibraryExists(const std::wstring& folder) {
    std::wstring path = folder;
    if (!path.empty() && path.back() == L'/') path.pop_back();
    path += L'/';
    path += CLIENT_LIBRARY_FILE;
    std::string bytes;
    return FolderToBytes(path, bytes) && file_exists(bytes.c_str());
}

std::shared_ptr<fbclient::Database> CallerIdDbConnection::MakeDatabase() const {
    return m_client->Connect(m_serverName, DATABASE_NAME, m_userName, m_password, SQL_ROLE);
}

std::string CallerIdDbConnection::ConnectionString() const {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    return m_available ? m_serverName + ":" + DATABASE_NAME : std::string();
}

std::string CallerIdDbConnection::ClientVersion() const {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    return m_client ? m_client->VersionText() : std::string();
}

std::string CallerIdDbConnection::ServerVersion() const {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    if (!m_database) return {};
    try {
        return m_database->ServerVersion();
    } catch (const fbclient::Exception&) {
        return {};
    }
}

void CallerIdDbConnection::Connect() {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    if (m_available == 0) throw std::runtime_error("Firebird client libraries not avaialble");
    m_database.reset();  // a failed attempt leaves the object not connected
    m_database = MakeDatabase();
}

bool CallerIdDbConnection::ReadRecords(const std::wstring& sql, std::vector<CallerIdRecord>& rows) {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    m_readErrorText.clear();
    m_readErrorCode = 0;
    if (!m_database) {
        m_readErrorText = "not connected";
        return false;
    }
    try {
        const auto statement = std::make_unique<fbclient::Query>(m_database, CopyToNarrow(sql));
        rows.clear();
        rows.reserve(INITIAL_ROWS);
        std::string text;
        while (statement->Fetch()) {
            if (rows.size() == rows.capacity())
                rows.reserve(static_cast<size_t>(static_cast<double>(rows.capacity()) * 1.25));
            CallerIdRecord& record = rows.emplace_back();
            try {
                statement->Get(1, record.RecordId);
                statement->Get(2, text);
                caller_id_text::WidenTrimmed(text, record.Alias);
                statement->Get(3, text);
                caller_id_text::WidenTrimmed(text, record.Type);
                statement->Get(4, text);
                caller_id_text::WidenTrimmed(text, record.ID);
                statement->Get(5, record.Channel);
            } catch (...) {
                rows.pop_back();  // only whole rows are handed back
                throw;
            }
        }
    } catch (const fbclient::SQLException& e) {
        m_readErrorText = e.StatusText();
        m_readErrorCode = e.EngineCode();
        return false;
    } catch (const fbclient::Exception& e) {
        m_readErrorText = e.what();
        return false;
    }
    return true;
}
