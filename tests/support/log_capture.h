#pragma once
// Reads what the diagnostic log wrote to its file during a test. The shared test main
// points it at a private folder (SYSERRLOG=2, DIR_TMP=<fresh folder>) before any test.

#include <cstdint>
#include <string>
#include <vector>

// The fields of a file line, but for the line number, the timestamp and the flags.
struct LogRecord {
    uint32_t sequence = 0, error = 0;
    std::string pid, tid, module, file, message, error_text;
};

class LogCapture {
public:
    // Remembers where the log file ends now; records() returns what comes after.
    LogCapture();
    std::vector<LogRecord> records() const;
    std::vector<std::string> messages() const;

private:
    size_t m_start;
};

// Splits the bytes of file lines (each ending in CR LF) into records.
std::vector<LogRecord> parse_log_lines(const std::string& bytes);
