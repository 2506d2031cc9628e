#include "code/user_credentials.h"

#include <grp.h>
#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string>

#include "code/char2wchar.h"
#include "code/syserrx.h"

namespace {

// A group entry's buffer holds every member name, so large directory groups need more
// than the usual 1 KiB; past this the entry is treated as unreadable.
constexpr size_t GROUP_BUFFER_LIMIT = size_t{64} << 20;

size_t initial_buffer_size(int which) {
    const long hint = sysconf(which);
    return hint > 0 ? static_cast<size_t>(hint) : 1024;
}

bool user_account_exists(const char* name) {
    std::vector<char> buffer(initial_buffer_size(_SC_GETPW_R_SIZE_MAX));
    for (;;) {
        passwd entry{};
        passwd* found = nullptr;
        const int rc = getpwnam_r(name, &entry, buffer.data(), buffer.size(), &found);
        if (rc == ERANGE && buffer.size() < GROUP_BUFFER_LIMIT) {
            buffer.resize(buffer.size() * 2);
            continue;
        }
        return rc == 0 && found;
    }
}

bool process_groups(UserToken& token) {
    token.gid = getegid();
    for (;;) {
        const int count = getgroups(0, nullptr);
        if (count < 0) return false;
        token.groups.resize(static_cast<size_t>(count));
        const int filled = getgroups(count, token.groups.data());
        // EINVAL: another thread changed the list between the two calls; ask again.
        if (filled < 0 && errno == EINVAL) continue;
        if (filled < 0) return false;
        token.groups.resize(static_cast<size_t>(filled));
        return true;
    }
}

}  // namespace

int find_group_id(const char* name, gid_t& gid) {
    if (!name) return EINVAL;
    std::vector<char> buffer(initial_buffer_size(_SC_GETGR_R_SIZE_MAX));
    for (;;) {
        group entry{};
        group* found = nullptr;
        const int rc = getgrnam_r(name, &entry, buffer.data(), buffer.size(), &found);
        if (rc == ERANGE) {
            if (buffer.size() >= GROUP_BUFFER_LIMIT) return ERANGE;
            buffer.resize(buffer.size() * 2);
            continue;
        }
        if (rc != 0) return rc;
        if (!found) return ENOENT;
        gid = found->gr_gid;
        return 0;
    }
}

bool IsMemberOfGroup(const wchar_t* group_name, const UserToken* token) {
    std::string name;
    gid_t gid = 0;
    int error = EINVAL;
    if (group_name) {
        error = wchar_to_mbchar(group_name, name) ? find_group_id(name.c_str(), gid) : EILSEQ;
    }
    if (error != 0) {
        // Users and groups are separate name spaces here; a name that is only a user
        // account never counts, and is no failure worth reporting.
        if (error == ENOENT && user_account_exists(name.c_str())) return false;
        syserr_report_error(SYSERR_FILE, __LINE__, 4, static_cast<uint32_t>(error),
                            L"LookupAccountName failed");
        return false;
    }

    UserToken process;
    if (!token) {
        if (!process_groups(process)) {
            SYSERR_VERIFY_FAILED(L"CheckTokenMembership(token, &sid[0], &isMember)");
            return false;
        }
        token = &process;
    }
    return token->gid == gid ||
           std::find(token->groups.begin(), token->groups.end(), gid) != token->groups.end();
}
