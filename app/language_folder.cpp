#include "app/language_folder.h"

#include <unistd.h>

#include <cwchar>
#include <vector>

#include "code/char2wchar.h"

std::wstring LanguageFolderBeside(const std::string& executablePath) {
    const size_t slash = executablePath.rfind('/');
    if (slash == std::string::npos) return {};
    // The root folder keeps its "/"; any other folder loses its last element only.
    const std::string folder = executablePath.substr(0, slash == 0 ? 1 : slash);
    std::wstring wide;
    if (!mbchar_to_wchar(folder.c_str(), wide)) return {};
    if (wide.back() != L'/') wide += L'/';
    return wide + std::wstring(kLanguageSubFolder);
}

std::wstring LanguageFolder() {
    // The file that was started, with any symbolic link used to start it resolved:
    // the libraries are installed beside the program, not beside a link to it.
    std::vector<char> path(4096);
    const ssize_t length = ::readlink("/proc/self/exe", path.data(), path.size());
    if (length <= 0 || static_cast<size_t>(length) >= path.size()) return {};
    return LanguageFolderBeside(std::string(path.data(), static_cast<size_t>(length)));
}
