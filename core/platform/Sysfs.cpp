#include "platform/Sysfs.h"

#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/FileIO.h"

namespace keldwick::platform::Sysfs {

std::optional<std::string> binaryAttribute(const std::string& path) {
    Fd fd = openRead(path, O_NONBLOCK);
    if (!fd) return std::nullopt;
    std::string bytes;
    char buffer[4096];
    for (;;) {
        ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
        if (n < 0) return std::nullopt;
        if (n == 0) break;
        bytes.append(buffer, static_cast<size_t>(n));
        if (bytes.size() >= 65536) break;
    }
    return bytes;
}

std::optional<std::string> attribute(const std::string& path) {
    auto bytes = binaryAttribute(path);
    if (!bytes) return std::nullopt;
    while (!bytes->empty() && (bytes->back() == '\n' || bytes->back() == '\0')) bytes->pop_back();
    return bytes;
}

std::optional<std::string> linkName(const std::string& path) {
    char buffer[PATH_MAX];
    ssize_t n = ::readlink(path.c_str(), buffer, sizeof buffer - 1);
    if (n <= 0) return std::nullopt;
    std::string target(buffer, static_cast<size_t>(n));
    while (target.size() > 1 && target.back() == '/') target.pop_back();
    return lastComponent(target);
}

std::optional<std::string> resolved(const std::string& path) {
    char* real = ::realpath(path.c_str(), nullptr);
    if (!real) return std::nullopt;
    std::string result(real);
    ::free(real);
    return result;
}

bool exists(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

std::string parent(const std::string& path) {
    auto slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

std::string lastComponent(const std::string& path) {
    auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace keldwick::platform::Sysfs
