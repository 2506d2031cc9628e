#include "tests/support/log_capture.h"

#include <cstdlib>
#include <sstream>

#include "tests/support/temp_dir.h"

std::string LogCapture::log_file_path() {
    const char* dir = std::getenv("DIR_TMP");
    return std::string(dir ? dir : "/tmp") + "/syserrlog.txt";
}

LogCapture::LogCapture() : m_start(read_file_bytes(log_file_path()).size()) {}

std::vector<LogRecord> LogCapture::records() const {
    const std::string bytes = read_file_bytes(log_file_path());
    return parse_log_lines(bytes.size() > m_start ? bytes.substr(m_start) : std::string());
}

std::vector<std::string> LogCapture::messages() const {
    std::vector<std::string> result;
    for (const LogRecord& r : records()) result.push_back(r.message);
    return result;
}

std::vector<LogRecord> parse_log_lines(const std::string& bytes) {
    std::vector<LogRecord> result;
    size_t pos = 0;
    while (pos < bytes.size()) {
        size_t end = bytes.find("\r\n", pos);
        if (end == std::string::npos) end = bytes.size();
        std::vector<std::string> f;
        std::string line = bytes.substr(pos, end - pos);
        std::stringstream in(line);
        for (std::string field; std::getline(in, field, '\t');) f.push_back(field);
        if (!line.empty() && line.back() == '\t') f.emplace_back();
        pos = end + 2;
        if (f.size() != 11) continue;
        LogRecord r;
        r.sequence = static_cast<uint32_t>(std::stoul(f[0], nullptr, 16));
        r.pid = f[1];
        r.tid = f[2];
        r.module = f[3];
        r.file = f[4];
        r.line = static_cast<unsigned>(std::stoul(f[5]));
        r.flags = static_cast<uint32_t>(std::stoul(f[6], nullptr, 16));
        r.error = static_cast<uint32_t>(std::stoul(f[7]));
        r.message = f[8];
        r.error_text = f[9];
        r.timestamp = f[10];
        result.push_back(r);
    }
    return result;
}
