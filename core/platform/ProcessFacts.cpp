#include "platform/ProcessFacts.h"

#include <pwd.h>
#include <sys/random.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>

namespace keldwick::platform {


std::vector<gid_t> supplementaryGroups() {
    const int count = ::getgroups(0, nullptr);
    if (count <= 0) return {};
    std::vector<gid_t> groups(static_cast<size_t>(count));
    const int got = ::getgroups(count, groups.data());
    groups.resize(static_cast<size_t>(std::max(got, 0)));
    return groups;
}

int32_t processID() { return static_cast<int32_t>(::getpid()); }

std::optional<std::string> environmentVariable(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr) return std::nullopt;
    return std::string(value);
}

std::optional<std::string> accountHome() {
    if (const passwd* entry = ::getpwuid(::getuid()); entry && entry->pw_dir) return std::string(entry->pw_dir);
    return std::nullopt;
}

std::optional<std::string> hostName() {
    char host[256] = {};
    if (::gethostname(host, sizeof host - 1) == 0 && host[0] != '\0') return std::string(host);
    return std::nullopt;
}

ssize_t randomBytes(void* into, std::size_t size) { return ::getrandom(into, size, 0); }

}  // namespace keldwick::platform
