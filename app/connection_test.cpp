#include "app/connection_test.h"

#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cwchar>
#include <exception>

#include "app/string_table.h"
#include "code/char2wchar.h"
#include "code/firebird_client.h"
#include "code/syserrx.h"

namespace {

using Clock = std::chrono::steady_clock;

const wchar_t* const TEST_QUERY = L"SELECT FIRST(1) * from CallerID";

// File-system bytes (the process locale's encoding) to wide text; empty when they do
// not convert.
std::wstring FromFileSystemBytes(const std::string& bytes) {
    std::wstring text;
    mbchar_to_wchar(bytes.c_str(), text);
    return text;
}

// Firebird's texts are UTF-8 or plain ASCII; a stray byte keeps its value.
std::wstring FromClientText(const std::string& bytes) {
    std::wstring text;
    caller_id_text::WidenTrimmed(bytes, text);
    return text;
}

std::wstring Formatted(unsigned id, const std::wstring& argument) {
    const std::wstring format = LoadCachedString(id);
    std::wstring text(format.size() + argument.size() + 1, L'\0');
    const int written = std::swprintf(text.data(), text.size(), format.c_str(), argument.c_str());
    text.resize(written > 0 ? static_cast<size_t>(written) : 0);
    return text;
}

// Times one step; Finish records it in the details.
class StepTimer {
public:
    StepTimer(ConnectionTestDetails& details, const wchar_t* name)
        : m_details(details), m_name(name), m_start(Clock::now()) {}

    ConnectionTestDetails::Step& Finish(bool passed) {
        ConnectionTestDetails::Step& step = m_details.steps.emplace_back();
        step.name = m_name;
        step.elapsed =
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - m_start);
        step.passed = passed;
        return step;
    }

private:
    ConnectionTestDetails& m_details;
    const wchar_t* m_name;
    Clock::time_point m_start;
};

bool RunSteps(const std::wstring& folder, const DbmsConnectionSettings& settings,
              const std::function<void(const std::wstring&)>& addLine,
              ConnectionTestDetails& details) {
    const auto add = [&addLine](unsigned id) { addLine(LoadCachedString(id)); };

    add(IDS_LIBRARY_TRYING);
    StepTimer library(details, L"client library");
    const std::wstring libraryPath = folder + L"/" + CallerIdDbConnection::CLIENT_LIBRARY_FILE;
    if (!CallerIdDbConnection::ClientLibraryExists(folder)) {
        library.Finish(false).error = L"no such file: " + libraryPath;
        addLine(Formatted(IDS_LIBRARY_NOT_FOUND, libraryPath));
        return false;
    }
    details.clientLibraryPath = libraryPath;
    library.Finish(true);
    add(IDS_LIBRARY_FOUND);
    addLine(std::wstring());
    add(IDS_CONNECT_TRYING);

    StepTimer connect(details, L"connect");
    std::unique_ptr<CallerIdDbConnection> connection;
    bool connected = false;
    try {
        // A library file that is there but cannot be loaded throws here already.
        connection = std::make_unique<CallerIdDbConnection>(folder, settings);
        details.clientLibraryVersion = FromClientText(connection->ClientVersion());
        connection->Connect();
        connected = true;
    } catch (const fbclient::SQLException& e) {
        auto& step = connect.Finish(false);
        step.error = FromClientText(e.StatusText());
        step.errorCode = e.EngineCode();
    } catch (const std::exception& e) {
        connect.Finish(false).error = FromClientText(e.what());
    } catch (...) {
        connect.Finish(false).error = L"unknown error";
    }
    if (!connected) {
        add(IDS_CONNECT_FAILED);
        return false;
    }
    connect.Finish(true);
    details.serverVersion = FromClientText(connection->ServerVersion());
    add(IDS_CONNECT_OK);
    addLine(std::wstring());
    add(IDS_READ_TRYING);

    StepTimer read(details, L"read");
    std::vector<CallerIdRecord> rows;
    const bool readable = connection->ReadRecords(TEST_QUERY, rows);
    auto& step = read.Finish(readable);
    if (!readable) {
        step.error = FromClientText(connection->LastReadErrorText());
        step.errorCode = connection->LastReadErrorCode();
    }
    add(readable ? IDS_READ_OK : IDS_READ_FAILED);
    return readable;  // the connection detaches here, before the verdict
}

}  // namespace

std::wstring ClientLibraryFolder() {
    std::string executableFolder;
    char executable[PATH_MAX] = {};
    const ssize_t length = ::readlink("/proc/self/exe", executable, sizeof executable - 1);
    if (length <= 0) {
        SYSERR_ASSERT_FAILED(L"readlink(\"/proc/self/exe\", executable, sizeof executable - 1)");
    } else {
        executableFolder.assign(executable, static_cast<size_t>(length));
        executableFolder.erase(executableFolder.find_last_of('/'));
    }
    std::string currentFolder;
    char current[PATH_MAX] = {};
    if (::getcwd(current, sizeof current) != nullptr) currentFolder = current;
    const std::wstring folder =
        FromFileSystemBytes(fbclient::FindClientLibraryFolder(executableFolder, currentFolder));
    if (folder.empty()) SYSERR_MESSAGE(L"Unable to retrieve the executable path.");
    return folder;
}

bool RunConnectionTest(const std::wstring& clientLibraryFolder,
                       const DbmsConnectionSettings& settings,
                       const std::function<void(const std::wstring&)>& addLine,
                       ConnectionTestDetails* details) {
    try {
        ConnectionTestDetails scratch;
        ConnectionTestDetails& filled = details ? *details : scratch;
        filled = ConnectionTestDetails();
        const bool passed = RunSteps(clientLibraryFolder, settings, addLine, filled);
        addLine(std::wstring());
        addLine(LoadCachedString(passed ? IDS_ALL_PASSED : IDS_TEST_FAILED));
        return passed;
    } catch (...) {
        // Only the caller's own addLine or memory can fail here; the test has failed.
        return false;
    }
}

std::wstring DescribeConnectionTestDetails(const ConnectionTestDetails& details) {
    std::wstring text;
    const auto line = [&text](const std::wstring& label, const std::wstring& value) {
        text += label + L": " + (value.empty() ? L"(unknown)" : value) + L"\n";
    };
    line(L"Client library", details.clientLibraryPath);
    line(L"Client library version", details.clientLibraryVersion);
    line(L"Server version", details.serverVersion);
    for (const auto& step : details.steps) {
        text += L"Step \"" + step.name + L"\": " + (step.passed ? L"passed" : L"failed") + L" in " +
                std::to_wstring(step.elapsed.count()) + L" ms\n";
        if (step.passed) continue;
        if (step.errorCode != 0)
            text += L"  Firebird error " + std::to_wstring(step.errorCode) + L"\n";
        size_t start = 0;
        while (start < step.error.size()) {
            size_t end = step.error.find(L'\n', start);
            if (end == std::wstring::npos) end = step.error.size();
            text += L"  " + step.error.substr(start, end - start) + L"\n";
            start = end + 1;
        }
    }
    return text;
}
