#pragma once
// The connection test's three steps (client library, connect, read one row) without
// any widget: the Test Connection dialog runs it on its worker thread, the command
// line runs it directly. Every line a person sees goes through `addLine`.

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "app/CallerIdDbConnection.h"

// Where the client library is looked for: the executable's folder when it holds
// libfbclient.so.2, else the folder the system's loader would take it from, else the
// current directory (empty, with a report, when none can be named).
std::wstring ClientLibraryFolder();

// What a person may want to know beyond the lines: shown on request only.
struct ConnectionTestDetails {
    std::wstring clientLibraryPath;     // the file used, when one was found
    std::wstring clientLibraryVersion;  // e.g. "3.0", empty when not loaded
    std::wstring serverVersion;         // the server's own version text, when connected
    struct Step {
        std::wstring name;  // "client library", "connect", "read"
        std::chrono::milliseconds elapsed{0};
        bool passed = false;
        std::wstring error;  // the server's or client's own error text, when failed
        long errorCode = 0;  // Firebird's error code (e.g. 335544472), 0 when none
    };
    std::vector<Step> steps;
};

// Runs the steps with `settings` against the library in `clientLibraryFolder`, handing
// each line (an empty one is a separator) to `addLine` as soon as it is known, on the
// calling thread. True when every step passed. Never throws; a library that is present
// but cannot be loaded fails the connect step. `details` may be null.
bool RunConnectionTest(const std::wstring& clientLibraryFolder,
                       const DbmsConnectionSettings& settings,
                       const std::function<void(const std::wstring&)>& addLine,
                       ConnectionTestDetails* details);

// The details as lines a person reads ("Client library: ...", one line per step with
// its time, and for a failed step Firebird's error code and text), each ending in "\n".
std::wstring DescribeConnectionTestDetails(const ConnectionTestDetails& details);
