#include "foundation/PrivateFolder.h"

#include <cerrno>

#include "foundation/FileOps.h"
#include "foundation/Log.h"
#include "foundation/PathUtil.h"
#include "platform/FileIO.h"
#include "platform/FileStatus.h"
#include "platform/ProcessFacts.h"
#include "platform/Users.h"
#include "platform/POSIXFailure.h"

namespace keldwick::PrivateFolder {

namespace {

constexpr mode_t kFolderMode = 0700;
constexpr mode_t kFileMode = 0600;

bool wider(mode_t mode, mode_t allowed) { return (mode & 07777 & ~allowed) != 0; }

}  // namespace

void secure(const std::string& folder) {
    if (const std::string parent = PathUtil::parent(folder); !parent.empty() && parent != folder) {
        createDirectory(parent);
    }
    if (platform::calls().mkdirAt(AT_FDCWD, folder.c_str(), kFolderMode) != 0 && errno != EEXIST) throw POSIXFailure("mkdir", folder, errno);

    const platform::Fd fd = platform::openDirectory(AT_FDCWD, folder, O_NOFOLLOW);
    if (!fd) throw POSIXFailure("open", folder, errno);
    struct stat folderStatus {};
    if (platform::statusOf(fd.get(), folderStatus) != 0) throw POSIXFailure("open", folder, errno);
    if (folderStatus.st_uid != platform::effectiveUserID()) return;
    if (wider(folderStatus.st_mode, kFolderMode) && platform::calls().fchmod(fd.get(), kFolderMode) != 0) {
        throw POSIXFailure("chmod", folder, errno);
    }
    for (const std::string& name : platform::readNames(platform::duplicate(fd.get()), folder)) {
        struct stat status {};
        if (platform::statusAt(fd.get(), name.c_str(), status, AT_SYMLINK_NOFOLLOW) != 0) continue;
        if (!S_ISREG(status.st_mode) || status.st_uid != platform::effectiveUserID() || !wider(status.st_mode, kFileMode)) continue;
        // The folder is the user's alone by now: the name can't be swapped for a link.
        if (platform::calls().fchmodAt(fd.get(), name.c_str(), kFileMode, 0) != 0) {
            throw POSIXFailure("chmod", PathUtil::join(folder, name), errno);
        }
    }
}

bool secureAtStart(const std::string& folder) noexcept {
    try {
        secure(folder);
        return true;
    } catch (const std::exception& error) {
        Log::error("records", std::string("Couldn't make ") + folder + " private: " + error.what());
        return false;
    }
}

void createFile(const std::string& path) {
    const platform::Fd fd(
        platform::calls().openAt(AT_FDCWD, path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, kFileMode));
    if (!fd) {
        if (errno == EEXIST) return;
        throw POSIXFailure("create", path, errno);
    }
}

}  // namespace keldwick::PrivateFolder
