#include "platform/Users.h"

#include <grp.h>
#include <pwd.h>
#include <unistd.h>

namespace keldwick::platform {

uid_t effectiveUserID() { return ::geteuid(); }
gid_t effectiveGroupID() { return ::getegid(); }
uid_t realUserID() { return ::getuid(); }

std::optional<Account> accountOf(uid_t user) {
    const passwd* entry = ::getpwuid(user);
    if (entry == nullptr || entry->pw_name == nullptr) return std::nullopt;
    return Account{entry->pw_name, entry->pw_gid};
}

std::optional<std::string> groupName(gid_t group) {
    const struct group* entry = ::getgrgid(group);
    if (entry == nullptr || entry->gr_name == nullptr) return std::nullopt;
    return std::string(entry->gr_name);
}

}  // namespace keldwick::platform
