#pragma once
// Where this machine keeps the console's settings: one folder under the machine-wide
// data folder, holding the settings file and the local caller-ID file. Every other
// module asks here instead of spelling the folder itself.

#include <string>
#include <string_view>

inline constexpr std::wstring_view kSettingsSubFolder = L"Orvane/talvex/config/dispatch_console";
inline constexpr std::wstring_view kSettingsFileName = L"TalvexSettings.INI";

// The settings folder, made with every missing level when `create` is set (a folder
// made now is opened to the group `users`). Empty when the data folder cannot be
// named or the path does not fit; the failure is reported.
std::wstring SettingsFolder(bool create);

// The settings file inside SettingsFolder(create); empty when the folder is.
std::wstring SettingsFilePath(bool create);

// Copies the file at `path` to `path`.bak (replacing an older copy atomically). A
// symbolic link or anything else that is not a regular file is not followed and
// needs no copy (true). False, with the failure reported, when the copy failed.
bool BackUpSettingsFile(const char* path);

// What a file looked like at one moment, to tell whether someone changed it since.
struct FileSnapshot {
    bool exists = false;
    long long size = 0;
    long long modifiedNs = 0;
    std::string bytes;
    bool operator==(const FileSnapshot&) const = default;
};
// A symbolic link is not followed; an unreadable file counts by its size and time.
FileSnapshot TakeFileSnapshot(const char* path);
