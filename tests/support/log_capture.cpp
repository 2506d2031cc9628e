#include "tests/support/log_capture.h"

#include <algorithm>
#include <cstdlib>

#include "tests/support/temp_dir.h"

static std::string log_file() {
    const char* dir = std::getenv("DIR_TMP");
    return std::string(dir ? dir : "/tmp") + "/syserrlog.txt";
}

LogCapture::LogCapture() : m_start(read_file_bytes(log_file()).size()) {}

std::vector<LogRecord> LogCapture::records() const {
    const std::string bytes = read_file_bytes(log_file());
    return parse_log_lines(bytes.size() > m_start ? bytes.substr(m_start) : std::string());
}

std::vector<std::string> LogCapture::messages() const {
    std::vector<std::string> result;
    for (const LogRecord& r : records()) result.push_back(r.message);
    return result;
}

std::vector<LogRecord> parse_log_lines(const std::string& bytes) {
    std::vector<LogRecord> result;
    for (size_t pos = 0, end; pos < bytes.size(); pos = end + 2) {
        if ((end = bytes.find("\r\n", pos)) == std::string::npos) end = bytes.size();
        std::vector<std::string> f;
        for (size_t i = pos, tab; i <= end; i = tab + 1) {
            tab = std::min(bytes.find('\t', i), end);
            f.push_back(bytes.substr(i, tab - i));
        }
        if (f.size() != 11) continue;
        const auto number = [&](int i, int base) {
            return static_cast<uint32_t>(std::stoul(f[i], nullptr, base));
        };
        result.push_back({number(0, 16), number(7, 10), f[1], f[2], f[3], f[4], f[8], f[9]});
    }
    return result;
}
