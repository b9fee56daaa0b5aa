#pragma once
// What this process is and where it runs (its user ids are in Users.h): its groups, its id, its environment,
// the account's home, the host's name, and random bytes from the kernel.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/Types.h"

namespace keldwick::platform {

// The supplementary groups (getgroups(2)); empty where they can't be read.
std::vector<gid_t> supplementaryGroups();
int32_t processID();

// The environment variable's value (getenv(3)); nothing when it is not set.
std::optional<std::string> environmentVariable(const char* name);

// The home folder the account database gives the real user; nothing when it has none.
std::optional<std::string> accountHome();

// gethostname(2); nothing when it fails or is empty.
std::optional<std::string> hostName();

// getrandom(2): the count filled, or -1 with errno set.
ssize_t randomBytes(void* into, std::size_t size);


}  // namespace keldwick::platform
