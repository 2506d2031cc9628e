#pragma once
// Whether a user belongs to a named group of this machine (or of the directory
// service the name service switch reaches).

#include <sys/types.h>

#include <vector>

// The groups a user acts with: the primary (effective) gid and the supplementary gids.
struct UserToken {
    gid_t gid = 0;
    std::vector<gid_t> groups;
};

// True only when `group_name` names an existing group and the token's gid or one of its
// supplementary gids is that group's gid. A null token stands for the running process
// (its effective gid and getgroups()). Every failure gives false: a group that does not
// exist is reported once as "LookupAccountName failed" with the lookup's error code
// (ENOENT when the name service simply has no such group); a name that only a user
// account carries gives false without a report.
bool IsMemberOfGroup(const wchar_t* group_name, const UserToken* token);

// The gid of the group `name`. 0 when found; otherwise the error code: ENOENT when no
// such group exists, or what getgrnam_r answered (EIO, ENOMEM, ...).
int find_group_id(const char* name, gid_t& gid);
