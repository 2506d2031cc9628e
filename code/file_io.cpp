#include "code/file_io.h"

#include <unistd.h>

#include <cerrno>
#include <memory>

bool write_all(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        bytes.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

int read_chunks(int fd, const std::function<void(std::string_view)>& chunk) {
    constexpr size_t CHUNK = 64 * 1024;
    const std::unique_ptr<char[]> buffer(new char[CHUNK]);
    for (;;) {
        const ssize_t n = ::read(fd, buffer.get(), CHUNK);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return errno;
        if (n == 0) return 0;
        chunk(std::string_view(buffer.get(), static_cast<size_t>(n)));
    }
}

int read_lines(int fd, const std::function<void(std::string_view)>& line) {
    std::string partial;  // a line that runs across chunks
    const auto end_line = [&](std::string_view text) {
        if (!text.empty() && text.back() == '\r') text.remove_suffix(1);
        line(text);
    };
    const int error = read_chunks(fd, [&](std::string_view bytes) {
        for (size_t lf; (lf = bytes.find('\n')) != std::string_view::npos;) {
            if (partial.empty()) {
                end_line(bytes.substr(0, lf));
            } else {
                partial.append(bytes.substr(0, lf));
                end_line(partial);
                partial.clear();
            }
            bytes.remove_prefix(lf + 1);
        }
        partial.append(bytes);
    });
    if (error == 0 && !partial.empty()) line(partial);  // no LF, so a CR is its own
    return error;
}

void split_folder_and_name(const std::string& path, std::string& folder, std::string& name) {
    const size_t slash = path.rfind('/');
    folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    name = slash == std::string::npos ? path : path.substr(slash + 1);
}
