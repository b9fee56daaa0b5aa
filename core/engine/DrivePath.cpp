#include "engine/DrivePath.h"

#include <cerrno>
#include <vector>

#include "foundation/PathUtil.h"
#include "platform/FileIO.h"
#include "platform/FileStatus.h"
#include "platform/OpenBeneath.h"
#include "platform/POSIXFailure.h"

namespace keldwick::DrivePath {

namespace {

std::vector<std::string> components(const std::string& relative) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        size_t slash = relative.find('/', start);
        parts.push_back(relative.substr(start, slash == std::string::npos ? std::string::npos : slash - start));
        if (slash == std::string::npos) break;
        start = slash + 1;
    }
    return parts;
}

// Walks the existing folders on the way one by one, for kernels without openat2.
int checkByLstat(int rootFd, const std::vector<std::string>& folders) {
    struct stat rootStatus {};
    if (platform::statusOf(rootFd, rootStatus) != 0) return errno;
    std::string prefix;
    for (const auto& name : folders) {
        prefix += prefix.empty() ? name : "/" + name;
        struct stat status {};
        if (platform::statusAt(rootFd, prefix.c_str(), status, AT_SYMLINK_NOFOLLOW) != 0) {
            if (errno == ENOENT) return 0;
            return errno;
        }
        if (S_ISLNK(status.st_mode)) return ELOOP;
        if (!S_ISDIR(status.st_mode)) return ENOTDIR;
        if (status.st_dev != rootStatus.st_dev) return EXDEV;
    }
    return 0;
}

int check(const std::string& root, const std::string& path) {
    const std::string base = PathUtil::withoutTrailingSlashes(root);
    if (base.empty() || base.front() != '/') return EXDEV;
    std::string prefix = base == "/" ? "/" : base + "/";
    if (path.size() <= prefix.size() || path.compare(0, prefix.size(), prefix) != 0) return EXDEV;
    auto parts = components(path.substr(prefix.size()));
    for (const auto& part : parts)
        if (part.empty() || part == "." || part == "..") return EXDEV;
    parts.pop_back();  // the item itself is never followed by the callers

    platform::Fd rootFd = platform::openDirectory(AT_FDCWD, base, O_PATH);
    if (!rootFd) return errno;
    if (parts.empty()) return 0;

    std::string folders;
    for (const auto& part : parts) folders += folders.empty() ? part : "/" + part;
    platform::Fd opened;
    int error = platform::openFolderBeneath(rootFd.get(), folders, opened);
    if (error == 0) return 0;
    if (error == ENOSYS) return checkByLstat(rootFd.get(), parts);
    // Resolution goes from the root down, so a link or another mount on the way is
    // reported before a folder that is still missing.
    if (error == ENOENT) return 0;
    return error;
}

}  // namespace

void requireBeneath(const std::string& root, const std::string& path) {
    if (int error = check(root, path)) throw POSIXFailure("resolve", path, error);
}

bool isBeneath(const std::string& root, const std::string& path) { return check(root, path) == 0; }

}  // namespace keldwick::DrivePath
