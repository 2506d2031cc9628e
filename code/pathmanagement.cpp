#include "code/pathmanagement.h"

#include <acl/libacl.h>
#include <sys/acl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <cwchar>
#include <memory>
#include <string>

#include "code/char2wchar.h"
#include "code/syserrx.h"
#include "code/user_credentials.h"

namespace winutils {
namespace {

const wchar_t FALLBACK_PROGRAM_DATA[] = L"/var/lib";
const char USERS_GROUP[] = "users";
// Mode of every folder made here: the folders are shared by all users of the machine,
// so a restrictive umask of whoever runs the tool first must not lock the others out.
constexpr mode_t SHARED_FOLDER_MODE = 0755;

// False when the value cannot be read as text; the caller must then not guess a folder.
bool program_data_folder(std::wstring& folder) {
    const char* value = std::getenv("PROGRAMDATA");
    if (!value || value[0] != '/') {
        folder = FALLBACK_PROGRAM_DATA;
        return true;
    }
    return mbchar_to_wchar(value, folder);
}

bool join_path(wchar_t* path, const wchar_t* more) {
    const size_t length = wcsnlen(path, MAX_PATH_UNITS);
    // An empty base would turn the sub-path into one relative to the working directory.
    if (length == 0 || length == MAX_PATH_UNITS) return false;
    while (*more == L'/') ++more;
    const size_t more_length = std::wcslen(more);
    if (more_length == 0) return true;
    const size_t separator = path[length - 1] == L'/' ? 0 : 1;
    if (length + separator + more_length >= MAX_PATH_UNITS) return false;
    if (separator) path[length] = L'/';
    std::wmemcpy(path + length + separator, more, more_length + 1);
    return true;
}

std::string parent_of(const std::string& path) {
    size_t end = path.find_last_not_of('/');
    if (end == std::string::npos) return "/";
    const size_t slash = path.rfind('/', end);
    if (slash == std::string::npos) return ".";
    end = path.find_last_not_of('/', slash);
    return end == std::string::npos ? "/" : path.substr(0, end + 1);
}

struct AclDeleter {
    void operator()(void* acl) const {
        if (acl_free(acl) != 0) {
            SYSERR_VERIFY_FAILED_ERRNO(static_cast<uint32_t>(errno), L"!LocalFree(descriptor)");
        }
    }
};
using AclHandle = std::unique_ptr<struct __acl_ext, AclDeleter>;

bool has_default_acl(const std::string& dir) {
    AclHandle acl(acl_get_file(dir.c_str(), ACL_TYPE_DEFAULT));
    return acl && acl_entries(acl.get()) > 0;
}

// A folder made now gets the shared mode unless its parent hands down a default ACL,
// which then decides its access the way inheritance does elsewhere.
void settle_new_folder_mode(const std::string& path) {
    struct stat info {};
    if (stat(path.c_str(), &info) != 0 || (info.st_mode & 0777) == SHARED_FOLDER_MODE) return;
    if (has_default_acl(parent_of(path))) return;
    // Keeps a set-group-id bit inherited from the parent. A failure here leaves the
    // folder usable by its owner and is not worth failing the creation for.
    chmod(path.c_str(), (info.st_mode & 07000) | SHARED_FOLDER_MODE);
}

enum class Creation { Created, AlreadyThere, Failed };

Creation make_folder(const std::string& path) {
    if (mkdir(path.c_str(), SHARED_FOLDER_MODE) == 0) {
        settle_new_folder_mode(path);
        return Creation::Created;
    }
    if (errno != EEXIST) return Creation::Failed;
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode) ? Creation::AlreadyThere
                                                                   : Creation::Failed;
}

// Makes every missing level of `path`; the result tells about the deepest one.
Creation create_missing_directories(const wchar_t* path) {
    std::string narrow;
    if (!wchar_to_mbchar(path, narrow) || narrow.empty()) return Creation::Failed;
    for (size_t slash = narrow.find('/', 1); slash != std::string::npos;
         slash = narrow.find('/', slash + 1)) {
        if (narrow[slash - 1] == '/' || slash + 1 == narrow.size()) continue;
        if (make_folder(narrow.substr(0, slash)) == Creation::Failed) return Creation::Failed;
    }
    return make_folder(narrow);
}

acl_entry_t find_entry(acl_t acl, acl_tag_t wanted_tag, const gid_t* wanted_gid) {
    acl_entry_t entry;
    for (int which = ACL_FIRST_ENTRY; acl_get_entry(acl, which, &entry) == 1;
         which = ACL_NEXT_ENTRY) {
        acl_tag_t tag;
        if (acl_get_tag_type(entry, &tag) != 0 || tag != wanted_tag) continue;
        if (!wanted_gid) return entry;
        auto* qualifier = static_cast<gid_t*>(acl_get_qualifier(entry));
        const bool match = qualifier && *qualifier == *wanted_gid;
        acl_free(qualifier);
        if (match) return entry;
    }
    return nullptr;
}

bool set_full_access(acl_entry_t entry) {
    acl_permset_t perms;
    return acl_get_permset(entry, &perms) == 0 && acl_clear_perms(perms) == 0 &&
           acl_add_perm(perms, ACL_READ | ACL_WRITE | ACL_EXECUTE) == 0 &&
           acl_set_permset(entry, perms) == 0;
}

// The mask must open fully for the new entry to take effect. Every other entry that the
// mask limits is first cut to what the old mask let through, so that nobody else gains
// access as a side effect.
bool open_mask(acl_t& acl, acl_entry_t granted) {
    acl_entry_t mask = find_entry(acl, ACL_MASK, nullptr);
    if (mask) {
        acl_permset_t limit;
        if (acl_get_permset(mask, &limit) != 0) return false;
        acl_entry_t entry;
        for (int which = ACL_FIRST_ENTRY; acl_get_entry(acl, which, &entry) == 1;
             which = ACL_NEXT_ENTRY) {
            acl_tag_t tag;
            if (acl_get_tag_type(entry, &tag) != 0) return false;
            if (entry == granted || (tag != ACL_USER && tag != ACL_GROUP && tag != ACL_GROUP_OBJ))
                continue;
            acl_permset_t perms;
            if (acl_get_permset(entry, &perms) != 0) return false;
            for (acl_perm_t perm : {ACL_READ, ACL_WRITE, ACL_EXECUTE}) {
                if (acl_get_perm(limit, perm) == 0 && acl_delete_perm(perms, perm) != 0)
                    return false;
            }
            if (acl_set_permset(entry, perms) != 0) return false;
        }
    } else if (acl_create_entry(&acl, &mask) != 0 || acl_set_tag_type(mask, ACL_MASK) != 0) {
        return false;
    }
    return set_full_access(mask);
}

bool grant_group(acl_t& acl, gid_t gid) {
    acl_entry_t entry = find_entry(acl, ACL_GROUP, &gid);
    if (!entry && (acl_create_entry(&acl, &entry) != 0 || acl_set_tag_type(entry, ACL_GROUP) != 0 ||
                   acl_set_qualifier(entry, &gid) != 0)) {
        return false;
    }
    return set_full_access(entry) && open_mask(acl, entry) && acl_valid(acl) == 0;
}

bool grant_to(AclHandle& acl, gid_t gid) {
    acl_t raw = acl.get();
    const bool granted = grant_group(raw, gid);
    // acl_create_entry may move the list.
    if (raw != acl.get()) {
        acl.release();
        acl.reset(raw);
    }
    return granted;
}

}  // namespace

size_t GetProgramDataPath(wchar_t* buffer, size_t capacity) {
    if (!buffer || capacity == 0) return 0;
    std::wmemset(buffer, 0, capacity);
    std::wstring folder;
    if (!program_data_folder(folder) || folder.size() >= capacity) return 0;
    std::wmemcpy(buffer, folder.c_str(), folder.size() + 1);
    return folder.size();
}

void AppendSubDirPath(wchar_t* AppDataPath, const wchar_t* SubDirPath, bool create) {
    if (!AppDataPath || !SubDirPath) return;
    if (!join_path(AppDataPath, SubDirPath)) {
        SYSERR_ASSERT_FAILED(L"PathAppend(AppDataPath, SubDirPath)");
        std::wmemset(AppDataPath, 0, MAX_PATH_UNITS);
    }
    if (!create) return;
    switch (create_missing_directories(AppDataPath)) {
        case Creation::Created:
            GrantUsersFullAccess(AppDataPath);
            break;
        case Creation::AlreadyThere:
            break;
        case Creation::Failed:
            SYSERR_ASSERT_FAILED(L"CreateMissingDirectories(AppDataPath)");
            break;
    }
}

void GrantUsersFullAccess(const wchar_t* dir_path) {
    std::string path;
    AclHandle access, inherited;
    if (dir_path && wchar_to_mbchar(dir_path, path)) {
        access.reset(acl_get_file(path.c_str(), ACL_TYPE_ACCESS));
        inherited.reset(acl_get_file(path.c_str(), ACL_TYPE_DEFAULT));
    }
    if (!access || !inherited) {
        SYSERR_VERIFY_FAILED(
            L"GetNamedSecurityInfo( const_cast<TCHAR*>(dir_path), SE_FILE_OBJECT, "
            L"DACL_SECURITY_INFORMATION, NULL, NULL, &acl, NULL, &descriptor) == ERROR_SUCCESS");
        return;
    }
    // Without a default list yet, what is inherited starts from the folder's own access.
    if (acl_entries(inherited.get()) <= 0) inherited.reset(acl_dup(access.get()));
    gid_t users = 0;
    if (!inherited || find_group_id(USERS_GROUP, users) != 0 || !grant_to(access, users) ||
        !grant_to(inherited, users)) {
        SYSERR_VERIFY_FAILED(L"SetEntriesInAcl(1, &explicitAccess, acl, &newAcl) == ERROR_SUCCESS");
        return;
    }
    if (acl_set_file(path.c_str(), ACL_TYPE_ACCESS, access.get()) != 0 ||
        acl_set_file(path.c_str(), ACL_TYPE_DEFAULT, inherited.get()) != 0) {
        SYSERR_VERIFY_FAILED(
            L"SetNamedSecurityInfo(const_cast<LPTSTR>(dir_path), SE_FILE_OBJECT, security_info, "
            L"NULL, NULL, newAcl, NULL) == ERROR_SUCCESS");
    }
}

}  // namespace winutils
