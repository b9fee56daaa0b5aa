#pragma once
// Who this process runs as, and what the user and group databases say of an id.

#include <sys/types.h>

#include <optional>
#include <string>

namespace keldwick::platform {

uid_t effectiveUserID();
gid_t effectiveGroupID();
uid_t realUserID();

// A user's entry in the user database (getpwuid(3)); nothing where there is none.
struct Account {
    std::string name;
    gid_t primaryGroup = 0;
};
std::optional<Account> accountOf(uid_t user);

// A group's name (getgrgid(3)); nothing where the group database has none.
std::optional<std::string> groupName(gid_t group);

}  // namespace keldwick::platform
