#include "code/LanguageSupport.h"

#include <dirent.h>
#include <fnmatch.h>
#include <unicode/uloc.h>

#include <algorithm>
#include <cerrno>
#include <clocale>
#include <cstring>
#include <cwchar>
#include <cwctype>

#include "code/char2wchar.h"
#include "code/syserrx.h"

namespace {

// The console's path buffers hold 260 characters with their terminator.
constexpr size_t kMaxPath = 260;
constexpr size_t kLanguageNameUnits = 256;

std::string process_display_locale() {
    const char* current = std::setlocale(LC_MESSAGES, nullptr);
    std::string name = current ? current : "";
    name = name.substr(0, name.find_first_of(".@"));
    if (name.empty() || name == "C" || name == "POSIX") return "en";
    return name;
}

// What NTFS returns for a search: case-insensitive name order. The name as
// compared: each character upper-cased, and a byte that the locale cannot read as
// a character kept as itself, above every character. Every name has one key, so the
// order is total whatever the names hold; ties (names equal but for case) fall
// back to the bytes so that the order never depends on the folder's layout.
std::vector<uint32_t> sort_key(const std::string& name) {
    std::vector<uint32_t> key;
    key.reserve(name.size());
    std::mbstate_t state{};
    for (size_t at = 0; at < name.size();) {
        wchar_t c = 0;
        const size_t n = std::mbrtowc(&c, name.data() + at, name.size() - at, &state);
        if (n == static_cast<size_t>(-1) || n == static_cast<size_t>(-2) || n == 0) {
            key.push_back(0x110000u + static_cast<unsigned char>(name[at]));
            state = std::mbstate_t{};
            ++at;
            continue;
        }
        key.push_back(static_cast<uint32_t>(std::towupper(static_cast<wint_t>(c))));
        at += n;
    }
    return key;
}

void sort_names(std::vector<std::string>& names) {
    std::vector<std::pair<std::vector<uint32_t>, std::string>> keyed;
    keyed.reserve(names.size());
    for (std::string& name : names) keyed.emplace_back(sort_key(name), std::move(name));
    std::sort(keyed.begin(), keyed.end());
    for (size_t i = 0; i < names.size(); ++i) names[i] = std::move(keyed[i].second);
}

}  // namespace

std::wstring LanguageDisplayName(uint16_t wLanguageId, const char* displayLocale) {
    static const std::wstring kNeutral = L"Language Neutral";
    // ICU answers "root" without an error for a neutral primary language.
    if ((wLanguageId & 0x3FF) == 0) return kNeutral;
    char locale[ULOC_FULLNAME_CAPACITY] = {};
    UErrorCode status = U_ZERO_ERROR;
    uloc_getLocaleForLCID(wLanguageId, locale, sizeof locale, &status);
    if (U_FAILURE(status) || status == U_STRING_NOT_TERMINATED_WARNING) return kNeutral;

    const std::string display = displayLocale ? displayLocale : process_display_locale();
    UChar name[kLanguageNameUnits] = {};
    status = U_ZERO_ERROR;
    const int32_t units =
        uloc_getDisplayName(locale, display.c_str(), name, kLanguageNameUnits, &status);
    if (U_FAILURE(status) || units <= 0) return {};
    return utf16_to_wide(std::u16string_view(
        name, std::min<size_t>(static_cast<size_t>(units), kLanguageNameUnits)));
}

bool ListMatchingFiles(const std::string& folder, const std::string& pattern,
                       std::vector<std::string>& names) {
    names.clear();
    // The platform's file search knows only "?" and "*"; everything else, brackets
    // included, stands for itself.
    std::string glob;
    for (char c : pattern) {
        if (c == '[' || c == ']' || c == '\\') glob += '\\';
        glob += c;
    }
    DIR* dir = ::opendir(folder.empty() ? "." : folder.c_str());
    if (!dir) return errno == ENOENT || errno == ENOTDIR;
    bool complete = true;
    int error = 0;
    for (;;) {
        errno = 0;
        const dirent* entry = ::readdir(dir);
        if (!entry) {
            // The end of the listing and a failed read both end the search; only
            // the latter is a failure. Either way it never revisits an entry.
            error = errno;
            complete = error == 0;
            break;
        }
        if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
        if (::fnmatch(glob.c_str(), entry->d_name, FNM_CASEFOLD) == 0)
            names.emplace_back(entry->d_name);
    }
    ::closedir(dir);
    sort_names(names);
    errno = error;
    return complete;
}

bool FindLanguageLibraries(const wchar_t* lpzLangFilePath, const wchar_t* lpzLangFileNamePattern,
                           const wchar_t* lpzLangFileVersion,
                           const wchar_t* lpzVersionInfoRequested,
                           std::vector<LanguageLibrary>& libraries) {
    libraries.clear();
    if (!(lpzLangFilePath && lpzLangFileNamePattern && lpzLangFileVersion &&
          lpzVersionInfoRequested)) {
        SYSERR_VERIFY_FAILED(
            L"lpzLangFilePath && lpzLangFileNamePattern && lpzLangFileVersion && "
            L"lpzVersionInfoRequested");
        return false;
    }

    // A path that does not fit is refused: searching a cut or emptied path would
    // list some other folder.
    std::wstring pchFindFilePath = lpzLangFilePath;
    if (pchFindFilePath.size() >= kMaxPath) {
        SYSERR_ASSERT_FAILED(L"wcscpy_s(pchFindFilePath, _MAX_PATH, lpzLangFilePath) == 0");
        return false;
    }
    if (!pchFindFilePath.empty() && pchFindFilePath.back() != L'/') {
        if (pchFindFilePath.size() + 1 >= kMaxPath) {
            SYSERR_ASSERT_FAILED(L"wcscat_s(pchFindFilePath, _MAX_PATH, L\"/\") == 0");
            return false;
        }
        pchFindFilePath += L'/';
    }
    if (pchFindFilePath.size() + std::wcslen(lpzLangFileNamePattern) >= kMaxPath) {
        SYSERR_ASSERT_FAILED(
            L"wcscat_s(pchSearchFilePath, _MAX_PATH, lpzLangFileNamePattern) == 0");
        return false;
    }
    std::string folder, pattern;
    if (!wchar_to_mbchar(pchFindFilePath.c_str(), folder) ||
        !wchar_to_mbchar(lpzLangFileNamePattern, pattern)) {
        SYSERR_ASSERT_FAILED(L"wchar_to_mbchar(pchSearchFilePath, searchPath)");
        return false;
    }

    std::vector<std::string> names;
    if (!ListMatchingFiles(folder, pattern, names))
        SYSERR_CHECK_FAILED_ERRNO(errno, L"ListMatchingFiles(folder, pattern, names)");

    for (const std::string& name : names) {
        std::wstring fileName;
        if (!mbchar_to_wchar(name.c_str(), fileName)) {
            SYSERR_ASSERT_FAILED(L"mbstowcs(fdFindFileData.cFileName) != (size_t)-1");
            continue;
        }
        if (pchFindFilePath.size() + fileName.size() >= kMaxPath) {
            SYSERR_ASSERT_FAILED(
                L"wcscat_s(pchFoundFilePath, _MAX_PATH, fdFindFileData.cFileName) == 0");
            continue;
        }
        const std::wstring pchFoundFilePath = pchFindFilePath + fileName;
        const uint16_t wLanguageId = GetFileLanguageId(pchFoundFilePath.c_str());
        wchar_t pchTmpWorkBuffer[kMaxPath] = {};
        if (GetFileVersionPropertyInfo(pchFoundFilePath.c_str(), lpzVersionInfoRequested,
                                       pchTmpWorkBuffer, sizeof(pchTmpWorkBuffer)) < 1) {
            SYSERR_ASSERT_FAILED(
                L"GetFileVersionPropertyInfo(pchFoundFilePath, lpzVersionInfoRequested, "
                L"pchTmpWorkBuffer, sizeof(pchTmpWorkBuffer)) > 0");
            pchTmpWorkBuffer[0] = L'\0';
            continue;
        }
        if (std::wcscmp(pchTmpWorkBuffer, lpzLangFileVersion) != 0) continue;

        std::wstring pchLanguageName = LanguageDisplayName(wLanguageId);
        if (pchLanguageName.empty())
            SYSERR_ASSERT_FAILED(L"VerLanguageNameW(wLanguageId, pchLanguageName, 256) > 0");
        if (pchLanguageName.size() >= kLanguageNameUnits)
            pchLanguageName.resize(kLanguageNameUnits - 1);
        libraries.push_back({fileName, wLanguageId, pchLanguageName});
    }
    return true;
}
