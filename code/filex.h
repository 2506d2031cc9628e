#pragma once
// File existence checks. A null path is reported to the diagnostic log and gives false.

// True when the path names an existing file or folder.
bool file_exists(const char* path);
bool file_exists_w(const wchar_t* path);
