#include "code/atomic_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <sys/acl.h>
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
// Keeps a temporary name within NAME_MAX (255) whatever the target's name.
constexpr size_t MAX_NAME_IN_TEMP = 200;

std::string in_folder(const std::string& folder, const std::string& name) {
    return (folder == "/" ? "" : folder) + "/" + name;
}

// ".<name>.<pid>.<random>.tmp": the pid lets a later commit tell whose leftover it is.
std::string temp_name(const std::string& folder, const std::string& prefix) {
    uint32_t random = 0;
    if (getrandom(&random, sizeof random, GRND_NONBLOCK) != sizeof random) {
        static uint32_t counter = 0;
        random = static_cast<uint32_t>(time(nullptr)) ^ (++counter * 2654435761u);
    }
    char tail[48];
    std::snprintf(tail, sizeof tail, "%ld.%08x%s", static_cast<long>(getpid()), random,
                  TEMP_SUFFIX);
    return in_folder(folder, prefix + tail);
}

// Removes named leftovers whose writer process no longer exists. A process of
// another user that still runs answers EPERM and keeps its file.
void remove_orphans(const std::string& folder, const std::string& prefix) {
    DIR* dir = opendir(folder.c_str());
    if (!dir) return;
    while (const dirent* entry = readdir(dir)) {
        const std::string_view name(entry->d_name);
        if (!name.starts_with(prefix) || !name.ends_with(TEMP_SUFFIX)) continue;
        const std::string rest(name.substr(prefix.size()));
        char* end = nullptr;
        const long pid = std::strtol(rest.c_str(), &end, 10);
        if (end == rest.c_str() || *end != '.' || pid <= 0) continue;
        if (pid == getpid() || kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH) continue;
        unlinkat(dirfd(dir), entry->d_name, 0);
    }
    closedir(dir);
}

bool same_file(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

}  // namespace

AtomicFileWriter::~AtomicFileWriter() {
    if (!m_committed) discard();
}

void AtomicFileWriter::log(const wchar_t* what) const {
    if (m_mode == Commit::Replace) SYSERR_CHECK_FAILED_ERRNO(m_error, what);
}

bool AtomicFileWriter::open(const std::string& path, Commit mode) {
    discard();
    m_mode = mode;
    m_error = 0;
    m_in_place = false;
    m_committed = false;
    m_target = path;
    std::string name;
    split_folder_and_name(m_target, m_folder, name);
    if (name.empty() || name == "." || name == "..") return fail(EISDIR);
    m_temp_prefix = "." + name.substr(0, MAX_NAME_IN_TEMP) + ".";

    // lstat: a link at the target is replaced, never followed.
    struct stat old_info;
    bool had_old = false;
    if (mode == Commit::Replace && lstat(m_target.c_str(), &old_info) == 0) {
        if (S_ISDIR(old_info.st_mode)) return fail(EISDIR);
        // A device, a FIFO or a socket is no file of ours: renaming over it would
        // destroy it (as root, even /dev/null).
        if (!S_ISREG(old_info.st_mode) && !S_ISLNK(old_info.st_mode)) return fail(EEXIST);
        had_old = S_ISREG(old_info.st_mode);
    }

    m_fd = ::open(m_folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
    if (m_fd < 0 && (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL)) {
        // This file system has no unnamed files: a named one, removed on failure.
        for (int attempt = 0; attempt < 100 && m_fd < 0; ++attempt) {
            m_temp_name = temp_name(m_folder, m_temp_prefix);
            m_fd = ::open(m_temp_name.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0666);
            if (m_fd < 0 && errno != EEXIST) break;
        }
        if (m_fd < 0) m_temp_name.clear();
    }
    if (m_fd < 0) {
        const int error = errno;
        if (had_old && (error == EACCES || error == EPERM) && open_in_place(old_info)) return true;
        return fail(error);
    }
    if (had_old) copy_attributes(old_info);
    m_buffer.reserve(BUFFER_SIZE);
    return true;
}

// The file that was lstat'ed, opened for writing without following a link and
// without truncating yet. A file with a second name could be someone else's file
// linked in before the folder was closed, so only a lone name is written.
bool AtomicFileWriter::open_in_place(const struct stat& old_info) {
    const int fd =
        ::open(m_target.c_str(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat info;
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_nlink != 1 ||
        !same_file(info, old_info)) {
        close(fd);
        return false;
    }
    m_fd = fd;
    m_in_place = true;
    return true;
}

// Best effort: a supervisor may not own the file; its bits and ACL still carry over.
void AtomicFileWriter::copy_attributes(const struct stat& old_info) {
    struct stat info = old_info;
    acl_t acl = nullptr;
    const int old_fd =
        ::open(m_target.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (old_fd >= 0) {
        struct stat now;
        if (fstat(old_fd, &now) == 0 && same_file(now, old_info)) {
            info = now;
            acl = acl_get_fd(old_fd);
        }
        close(old_fd);
    }
    if (fchown(m_fd, info.st_uid, info.st_gid) != 0) {
        [[maybe_unused]] int ignored = fchown(m_fd, static_cast<uid_t>(-1), info.st_gid);
    }
    // After fchown, which clears the set-id bits.
    [[maybe_unused]] int ignored = fchmod(m_fd, info.st_mode & 07777);
    if (acl) {
        acl_set_fd(m_fd, acl);
        acl_free(acl);
    }
}

bool AtomicFileWriter::append(std::string_view bytes) {
    if (m_fd < 0 || m_error) return false;
    // In place, nothing may reach the file before commit truncates it.
    if (!m_in_place && m_buffer.size() + bytes.size() > BUFFER_SIZE) {
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

// Names the unnamed file `name`; link() never replaces nor follows what is there.
bool AtomicFileWriter::link_unnamed(const std::string& name) {
    const std::string proc_path = "/proc/self/fd/" + std::to_string(m_fd);
    if (linkat(AT_FDCWD, proc_path.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0)
        return true;
    if (errno == EEXIST) return false;
    return linkat(m_fd, "", AT_FDCWD, name.c_str(), AT_EMPTY_PATH) == 0;
}

bool AtomicFileWriter::commit_in_place() {
    const int fd = m_fd;
    m_fd = -1;
    bool ok = true;
    if (ftruncate(fd, 0) != 0) {
        ok = fail(errno);
        log(L"ftruncate(file written in place)");
    } else if (!write_all(fd, m_buffer)) {
        ok = fail(errno);
        log(L"write(file written in place)");
    } else if (fsync(fd) != 0) {
        ok = fail(errno);
        log(L"fsync(file written in place)");
    }
    if (close(fd) != 0 && errno != EINTR && ok) {
        ok = fail(errno);
        log(L"close(file written in place)");
    }
    m_buffer.clear();
    m_committed = ok;
    return ok;
}

// The unnamed file is linked straight in under the target's name; a named one is
// linked there (or renamed without replacing, where there are no hard links).
bool AtomicFileWriter::place_never_replacing() {
    if (m_temp_name.empty()) {
        if (!link_unnamed(m_target)) return fail(errno);
    } else if (link(m_temp_name.c_str(), m_target.c_str()) == 0) {
        unlink(m_temp_name.c_str());
    } else if (errno == EEXIST || renameat2(AT_FDCWD, m_temp_name.c_str(), AT_FDCWD,
                                            m_target.c_str(), RENAME_NOREPLACE) != 0) {
        return fail(errno);
    }
    m_temp_name.clear();
    const int fd = m_fd;
    m_fd = -1;
    close(fd);  // synced already: the bytes are safe whatever close says
    return true;
}

bool AtomicFileWriter::commit() {
    if (m_fd < 0) return fail(EBADF);
    if (m_in_place) return commit_in_place();
    if (m_error || !flush()) {
        log(L"write(new file)");
        return false;
    }
    if (fsync(m_fd) != 0) {
        fail(errno);
        log(L"fsync(new file)");
        return false;
    }
    if (m_mode == Commit::NeverReplace) {
        if (!place_never_replacing()) return false;
    } else {
        if (m_temp_name.empty()) {
            // Named only now, just before the rename, so a crash leaves a named
            // leftover only inside this short window.
            for (int attempt = 0; attempt < 100 && m_temp_name.empty(); ++attempt) {
                std::string name = temp_name(m_folder, m_temp_prefix);
                if (link_unnamed(name)) {
                    m_temp_name = std::move(name);
                } else if (errno != EEXIST) {
                    break;
                }
            }
            if (m_temp_name.empty()) {
                fail(errno);
                log(L"linkat(new file)");
                return false;
            }
        }
        const int fd = m_fd;
        m_fd = -1;
        if (close(fd) != 0 && errno != EINTR) {
            fail(errno);
            log(L"close(new file)");
            return false;
        }
        if (rename(m_temp_name.c_str(), m_target.c_str()) != 0) {
            fail(errno);
            log(L"rename(new file)");
            return false;
        }
        m_temp_name.clear();
    }
    m_committed = true;
    const int folder = ::open(m_folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    // Some file systems cannot sync a folder (EINVAL); the new name is then as
    // durable as they make it.
    const bool synced = folder >= 0 && (fsync(folder) == 0 || errno == EINVAL || errno == EROFS);
    if (!synced) fail(errno);
    if (folder >= 0) close(folder);
    remove_orphans(m_folder, m_temp_prefix);
    if (!synced) {
        log(L"fsync(folder of the new file)");
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
