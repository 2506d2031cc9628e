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
    std::string narrow;
    narrow.reserve(text.size());
    for (wchar_t c : text) {
        auto unit = static_cast<uint32_t>(c);
        if (unit > 0xFFFF) {
            // Two UTF-16 units, each giving its low byte.
            unit -= 0x10000;
            narrow.push_back(static_cast<char>((0xD800 + (unit >> 10)) & 0xFF));
            narrow.push_back(static_cast<char>((0xDC00 + (unit & 0x3FF)) & 0xFF));
        } else {
            narrow.push_back(static_cast<char>(unit & 0xFF));
        }
    }
    return narrow;
}

void WidenTrimmed(const std::string& bytes, std::wstring& text) {
    size_t end = bytes.size();
    while (end > 0 && IsTrailingSpace(bytes[end - 1])) --end;
    text.resize(end);  // an upper bound: every byte gives at most one character
    size_t out = 0;
    const auto* in = reinterpret_cast<const unsigned char*>(bytes.data());
    for (size_t i = 0; i < end;) {
        unsigned char lead = in[i];
        if (lead < 0x80) {
            text[out++] = lead;
            ++i;
            continue;
        }
        size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC2 ? 2 : 0;
        if (lead > 0xF4) length = 0;
        uint32_t code = length == 4 ? lead & 0x07 : length == 3 ? lead & 0x0F : lead & 0x1F;
        bool valid = length != 0 && i + length <= end;
        for (size_t k = 1; valid && k < length; ++k) {
            if ((in[i + k] & 0xC0) != 0x80) valid = false;
            code = (code << 6) | (in[i + k] & 0x3F);
        }
        // Overlong forms, surrogates and values past U+10FFFF are not UTF-8.
        if (valid && ((length == 3 && code < 0x800) || (length == 4 && code < 0x10000) ||
                      (code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF))
            valid = false;
        if (valid) {
            text[out++] = static_cast<wchar_t>(code);
            i += length;
        } else {
            text[out++] = lead;
            ++i;
        }
    }
    text.resize(out);
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
