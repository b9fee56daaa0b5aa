#include "engine/HomeFolder.h"

#include <cerrno>

#include "foundation/FileOps.h"
#include "foundation/FileStat.h"
#include "foundation/PathUtil.h"
#include "platform/FileStatus.h"
#include "platform/POSIXFailure.h"

namespace keldwick {

HomeFolder::HomeFolder(const std::string& item)
    : itemPath_(item), folder_(PathUtil::parent(item)), name_(PathUtil::name(item)), path_(folder_) {
    // O_PATH: held to reach entries, never read, so a folder the user may enter and
    // write but not list still works as it does by name.
    fd_ = platform::openDirectory(AT_FDCWD, folder_, O_PATH);
    if (!fd_) {
        if (errno == ENOENT || errno == ENOTDIR) return;
        throw POSIXFailure("open", folder_, errno);
    }
    // Without procfs, by name alone.
    static const bool procfs = FileStat::peek("/proc/self/fd/.").has_value();
    if (procfs) path_ = "/proc/self/fd/" + std::to_string(fd_.get());
}

std::string HomeFolder::entry(const std::string& name) const { return PathUtil::join(path_, name); }

std::string HomeFolder::working(TemporaryKind kind, int64_t id) const {
    return entry(PathUtil::name(temporaryPath(PathUtil::join(folder_, name_), kind, id)));
}

std::string HomeFolder::named(const std::string& entry) const {
    const std::string prefix = path_ + "/";
    if (path_ == folder_ || entry.compare(0, prefix.size(), prefix) != 0) return entry;
    return PathUtil::join(folder_, entry.substr(prefix.size()));
}

bool HomeFolder::stillInPlace() const {
    if (!fd_) return true;
    struct stat held {};
    struct stat named {};
    if (platform::statusOf(fd_.get(), held) != 0 || platform::statusFollowing(folder_, named) != 0) return false;
    return held.st_dev == named.st_dev && held.st_ino == named.st_ino;
}

}  // namespace keldwick
