#pragma once
// A private folder under the system temp folder, removed with everything in it.

#include <filesystem>
#include <string>

class TempDir {
public:
    explicit TempDir(const std::string& prefix = "talvex-test");
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return m_path; }
    std::string file(const std::string& name) const { return (m_path / name).string(); }

private:
    std::filesystem::path m_path;
};

// Reads a whole file as bytes; empty when it cannot be read.
std::string read_file_bytes(const std::string& path);
// Writes bytes to a file, replacing it.
void write_file_bytes(const std::string& path, const std::string& bytes);
