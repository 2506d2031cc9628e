#pragma once
// Small POSIX file helpers shared by the modules that read or write files themselves.

#include <functional>
#include <string>
#include <string_view>

// Writes every byte, retrying after signals. False on an error (errno tells) or
// when the file takes no more bytes.
bool write_all(int fd, std::string_view bytes);

// Reads `fd` from where it stands to its end, retrying after signals, handing each
// piece to `chunk` as it arrives. 0, or the errno of a read that failed (what came
// before it was handed on). Exceptions of `chunk` pass through.
int read_chunks(int fd, const std::function<void(std::string_view)>& chunk);

// The same read cut into lines: each LF ends one, a CR just before it belongs to
// the line end, and a last line without LF is handed on as it is unless the read
// failed.
// A line is handed on whole however many chunks it spans.
int read_lines(int fd, const std::function<void(std::string_view)>& line);

// Splits a path at its last '/': "name" gives ".", "/name" gives "/".
void split_folder_and_name(const std::string& path, std::string& folder, std::string& name);
