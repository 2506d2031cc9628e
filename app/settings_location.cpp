#include "app/settings_location.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "code/atomic_file.h"
#include "code/file_io.h"
#include "code/pathmanagement.h"
#include "code/syserrx.h"

std::wstring SettingsFolder(bool create) {
    wchar_t folder[winutils::MAX_PATH_UNITS] = {};
    // A failed query leaves the buffer empty, which the join refuses and reports.
    winutils::GetProgramDataPath(folder, winutils::MAX_PATH_UNITS);
    const std::wstring sub(kSettingsSubFolder);
    winutils::AppendSubDirPath(folder, sub.c_str(), create);
    return folder;
}

std::wstring SettingsFilePath(bool create) {
    wchar_t path[winutils::MAX_PATH_UNITS] = {};
    const std::wstring folder = SettingsFolder(create);
    if (folder.empty() || folder.size() >= winutils::MAX_PATH_UNITS) return {};
    folder.copy(path, folder.size());
    const std::wstring name(kSettingsFileName);
    winutils::AppendSubDirPath(path, name.c_str(), false);
    if (path[0] == L'\0') {
        SYSERR_ASSERT_FAILED(L"PathAppendW(iniPath, L\"\\\\TalvexSettings.INI\")");
        return {};
    }
    return path;
}

namespace {

// The whole file, never through a symbolic link; 0 or the errno of the failure.
int read_whole_file(const char* path, std::string& bytes) {
    const int fd = ::open(path, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return errno;
    const int error = read_chunks(fd, [&bytes](std::string_view chunk) { bytes.append(chunk); });
    ::close(fd);
    return error;
}

}  // namespace

FileSnapshot TakeFileSnapshot(const char* path) {
    FileSnapshot snapshot;
    struct stat st {};
    if (::lstat(path, &st) != 0) return snapshot;
    snapshot.exists = true;
    snapshot.size = st.st_size;
    snapshot.modifiedNs =
        static_cast<long long>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec;
    if (S_ISREG(st.st_mode)) read_whole_file(path, snapshot.bytes);
    return snapshot;
}

bool BackUpSettingsFile(const char* path) {
    // Only a regular file can be someone's edit; a link planted there is replaced, unread.
    struct stat st {};
    if (::lstat(path, &st) != 0 || !S_ISREG(st.st_mode)) return true;
    std::string bytes;
    if (const int error = read_whole_file(path, bytes); error != 0) {
        SYSERR_CHECK_FAILED_ERRNO(static_cast<uint32_t>(error), L"read(settings file)");
        return false;
    }
    AtomicFileWriter backup;
    return backup.open(std::string(path) + ".bak") && backup.append(bytes) && backup.commit();
}
