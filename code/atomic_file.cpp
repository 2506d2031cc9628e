#include "code/atomic_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "code/file_io.h"
#include "code/syserrx.h"

namespace {

constexpr size_t BUFFER_SIZE = 64 * 1024;
constexpr const char* TEMP_SUFFIX = ".tmp";

// ".<name>.<pid>.<random>.tmp": the pid lets a later commit tell whose leftover it is.
std::string temp_name(const std::string& prefix) {
    uint32_t random = 0;
    if (getrandom(&random, sizeof random, GRND_NONBLOCK) != sizeof random) {
        static uint32_t counter = 0;
        random = static_cast<uint32_t>(time(nullptr)) ^ (++counter * 2654435761u);
    }
    char tail[48];
    std::snprintf(tail, sizeof tail, "%ld.%08x%s", static_cast<long>(getpid()), random,
                  TEMP_SUFFIX);
    return prefix + tail;
}

// Removes named leftovers whose writer process no longer exists. A process of
// another user that still runs answers EPERM and keeps its file.
void remove_orphans(const std::string& folder, const std::string& prefix) {
    const std::string name_prefix = prefix.substr(folder.size() + 1);
    DIR* dir = opendir(folder.c_str());
    if (!dir) return;
    while (const dirent* entry = readdir(dir)) {
        const std::string_view name(entry->d_name);
        if (!name.starts_with(name_prefix) || !name.ends_with(TEMP_SUFFIX)) continue;
        const std::string rest(name.substr(name_prefix.size()));
        char* end = nullptr;
        const long pid = std::strtol(rest.c_str(), &end, 10);
        if (end == rest.c_str() || *end != '.' || pid <= 0) continue;
        if (pid == getpid() || kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH) continue;
        unlinkat(dirfd(dir), entry->d_name, 0);
    }
    closedir(dir);
}

}  // namespace

AtomicFileWriter::~AtomicFileWriter() {
    if (!m_committed) discard();
}

bool AtomicFileWriter::open(const std::string& path) {
    discard();
    m_error = 0;
    m_committed = false;
    m_target = path;
    struct stat link_info;
    if (lstat(path.c_str(), &link_info) == 0 && S_ISLNK(link_info.st_mode)) {
        if (char* real = realpath(path.c_str(), nullptr)) {
            m_target = real;
            free(real);
        }
    }
    std::string name;
    split_folder_and_name(m_target, m_folder, name);
    if (name.empty() || name == "." || name == "..") return fail(EISDIR);
    m_temp_prefix = (m_folder == "/" ? "" : m_folder) + "/." + name + ".";

    struct stat old_info;
    const bool had_old = stat(m_target.c_str(), &old_info) == 0;
    if (had_old && S_ISDIR(old_info.st_mode)) return fail(EISDIR);

    m_fd = ::open(m_folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
    if (m_fd < 0 && (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL)) {
        // This file system has no unnamed files: a named one, removed on failure.
        for (int attempt = 0; attempt < 100 && m_fd < 0; ++attempt) {
            m_temp_name = temp_name(m_temp_prefix);
            m_fd = ::open(m_temp_name.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0666);
            if (m_fd < 0 && errno != EEXIST) break;
        }
        if (m_fd < 0) m_temp_name.clear();
    }
    if (m_fd < 0) return fail(errno);

    if (had_old) {
        // Best effort: a supervisor may not own the file; its bits still carry over.
        if (fchown(m_fd, old_info.st_uid, old_info.st_gid) != 0) {
            [[maybe_unused]] int ignored = fchown(m_fd, static_cast<uid_t>(-1), old_info.st_gid);
        }
        [[maybe_unused]] int ignored = fchmod(m_fd, old_info.st_mode & 07777);
    }
    m_buffer.reserve(BUFFER_SIZE);
    return true;
}

bool AtomicFileWriter::append(std::string_view bytes) {
    if (m_fd < 0 || m_error) return false;
    if (m_buffer.size() + bytes.size() > BUFFER_SIZE) {
        if (!flush()) return false;
        if (bytes.size() >= BUFFER_SIZE) {
            if (!write_all(m_fd, bytes)) return fail(errno);
            return true;
        }
    }
    m_buffer.append(bytes);
    return true;
}

bool AtomicFileWriter::flush() {
    if (!write_all(m_fd, m_buffer)) return fail(errno);
    m_buffer.clear();
    return true;
}

bool AtomicFileWriter::fail(int error) {
    if (!m_error) m_error = error ? error : EIO;
    return false;
}

// An unnamed file gets a temporary name only now, just before the rename, so a
// crash leaves a named leftover only inside this short window.
bool AtomicFileWriter::link_unnamed() {
    const std::string proc_path = "/proc/self/fd/" + std::to_string(m_fd);
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string name = temp_name(m_temp_prefix);
        if (linkat(AT_FDCWD, proc_path.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0 ||
            linkat(m_fd, "", AT_FDCWD, name.c_str(), AT_EMPTY_PATH) == 0) {
            m_temp_name = std::move(name);
            return true;
        }
        if (errno != EEXIST) return fail(errno);
    }
    return fail(EEXIST);
}

bool AtomicFileWriter::commit() {
    if (m_fd < 0) return fail(EBADF);
    if (m_error || !flush()) {
        SYSERR_CHECK_FAILED_ERRNO(m_error, L"write(new file)");
        return false;
    }
    if (fsync(m_fd) != 0) {
        fail(errno);
        SYSERR_CHECK_FAILED_ERRNO(m_error, L"fsync(new file)");
        return false;
    }
    if (m_temp_name.empty() && !link_unnamed()) {
        SYSERR_CHECK_FAILED_ERRNO(m_error, L"linkat(new file)");
        return false;
    }
    const int fd = m_fd;
    m_fd = -1;
    if (close(fd) != 0 && errno != EINTR) {
        fail(errno);
        SYSERR_CHECK_FAILED_ERRNO(m_error, L"close(new file)");
        return false;
    }
    if (rename(m_temp_name.c_str(), m_target.c_str()) != 0) {
        fail(errno);
        SYSERR_CHECK_FAILED_ERRNO(m_error, L"rename(new file)");
        return false;
    }
    m_temp_name.clear();
    m_committed = true;
    const int folder = ::open(m_folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    // Some file systems cannot sync a folder (EINVAL); the rename is then as
    // durable as they make it.
    const bool synced = folder >= 0 && (fsync(folder) == 0 || errno == EINVAL || errno == EROFS);
    if (!synced) fail(errno);
    if (folder >= 0) close(folder);
    remove_orphans(m_folder, m_temp_prefix);
    if (!synced) {
        SYSERR_CHECK_FAILED_ERRNO(m_error, L"fsync(folder of the new file)");
        return false;
    }
    return true;
}

void AtomicFileWriter::discard() {
    if (m_fd >= 0) close(m_fd);
    m_fd = -1;
    if (!m_temp_name.empty()) unlink(m_temp_name.c_str());
    m_temp_name.clear();
    m_buffer.clear();
}
