#pragma once
// Small POSIX file helpers shared by the modules that write files themselves.

#include <string>
#include <string_view>

// Writes every byte, retrying after signals. False on an error (errno tells) or
// when the file takes no more bytes.
bool write_all(int fd, std::string_view bytes);

// Splits a path at its last '/': "name" gives ".", "/name" gives "/".
void split_folder_and_name(const std::string& path, std::string& folder, std::string& name);
