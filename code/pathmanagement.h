#pragma once
// The machine-wide data folder and the folders the tool keeps below it.
//
// Paths are wide text in buffers of MAX_PATH_UNITS units, converted to the file
// system's bytes by the process locale. None of these functions throws; failures go
// to the diagnostic log and the caller goes on.

#include <cstddef>

namespace winutils {

// Every path buffer the functions below fill holds this many units, terminator included.
constexpr size_t MAX_PATH_UNITS = 260;

// Copies the folder shared by all users into `buffer`: $PROGRAMDATA when it is set,
// non-empty and absolute, otherwise /var/lib. The whole buffer is zeroed first. Returns
// the length copied (without the terminator), or 0 when the buffer is absent, the
// capacity is 0, or the folder and its terminator do not fit; the buffer then holds
// only zeros.
size_t GetProgramDataPath(wchar_t* buffer, size_t capacity);

// Appends `SubDirPath` to the path in `AppDataPath` (a buffer of at least
// MAX_PATH_UNITS units), with exactly one '/' between the parts: leading '/' of the
// sub-path are dropped and none is added after a path that ends in '/'. An empty
// sub-path leaves the path as it is.
//
// When the joined path and its terminator do not fit MAX_PATH_UNITS, or the path to
// append to is empty or unterminated within MAX_PATH_UNITS, the failure is reported and
// the first MAX_PATH_UNITS units of the buffer are zeroed: an empty path, never a cut
// one that would name another folder.
//
// With `create`, every missing folder of the result is made (mode 0755, so that every
// user can reach the folder whatever the umask, unless the parent passes down a default
// ACL), and a deepest folder made now is opened to the group `users` with
// GrantUsersFullAccess. A folder that already exists is left exactly as it is.
void AppendSubDirPath(wchar_t* AppDataPath, const wchar_t* SubDirPath, bool create);

// Gives the group `users` read, write and search access to the directory `dir_path`,
// both now (access ACL) and for everything created inside it later (default ACL). Other
// entries are kept; an entry the group had is replaced. On a file system without POSIX
// ACLs the failure is reported and the directory keeps its mode.
void GrantUsersFullAccess(const wchar_t* dir_path);

}  // namespace winutils
