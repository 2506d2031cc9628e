#pragma once
// The local caller-ID database: an empty five-column recordset in ADO's XML
// persistence format, which the console opens with ADO's Recordset.Open.
// Qt-free; the caller-ID page calls it when the local kind is applied.

#include <string>
#include <string_view>

#include "app/settings_location.h"

// Appends one piece the way path::operator/= joins on POSIX: a '/' goes between
// unless the path is empty or ends in '/', or the piece starts with '/'.
std::wstring AppendPathPiece(std::wstring path, std::wstring_view piece);

// The full path of the local file: `dataFolder` (winutils::GetProgramDataPath's
// text), the settings folder, then `fileName` trimmed of white space. Empty when
// the data folder is not an absolute path (a failed folder query must not create
// the file relative to the working folder) or the trimmed name is not a bare file
// name (empty, ".", "..", or holding '/' or a zero).
std::wstring LocalDatabasePath(const std::wstring& dataFolder, const std::wstring& fileName);

// The exact bytes written: UTF-8, no declaration, TAB indentation, LF line ends.
std::string_view LocalDatabaseXml();

// Creates the file at `path` atomically and exclusively: the bytes go to a
// temporary file in the same folder, are synced, and are then linked in under the
// final name, which fails rather than replace anything already there. Whatever is
// at the path (file, folder, symlink, dangling or not) is never opened, followed,
// changed or replaced, and no partly written file ever appears under the name.
// True only when this call created the file. The folder must exist. Nothing is
// logged: the caller refuses its apply on false.
bool CreateLocalDatabase(const std::wstring& path);

// True when an entry of any kind is at the path already (a dangling symlink counts:
// it is never followed) or the file was created now, including when another
// process created it first; false when it could not be created.
bool EnsureLocalDatabase(const std::wstring& path);
