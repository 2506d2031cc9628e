#pragma once
// Reads what the diagnostic log wrote to its file during a test.
//
// The log reads its configuration once per process. The shared test main points
// it at a private folder (SYSERRLOG=2, DIR_TMP=<fresh folder>) before any test
// runs, so every suite can see its reports as file lines. Tests of the log's own
// configuration run it in child processes instead.

#include <cstdint>
#include <string>
#include <vector>

struct LogRecord {
    uint32_t sequence = 0;
    std::string pid, tid, module, file;
    unsigned line = 0;
    uint32_t flags = 0;
    uint32_t error = 0;
    std::string message, error_text, timestamp;
};

class LogCapture {
public:
    // Remembers where the log file ends now; records() returns what comes after.
    LogCapture();

    std::vector<LogRecord> records() const;
    // The messages of records(), in order.
    std::vector<std::string> messages() const;

    static std::string log_file_path();

private:
    size_t m_start;
};

// Splits the bytes of file lines (each ending in CR LF) into records.
std::vector<LogRecord> parse_log_lines(const std::string& bytes);
