#include "foundation/PrivateFolder.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "foundation/FileOps.h"
#include "foundation/Log.h"
#include "foundation/PathUtil.h"
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
    if (::mkdir(folder.c_str(), kFolderMode) != 0 && errno != EEXIST) throw POSIXFailure("mkdir", folder, errno);

    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) throw POSIXFailure("open", folder, errno);
    DIR* listing = nullptr;
    try {
        struct stat folderStatus {};
        if (::fstat(fd, &folderStatus) != 0) throw POSIXFailure("open", folder, errno);
        if (folderStatus.st_uid != ::geteuid()) {
            ::close(fd);
            return;
        }
        if (wider(folderStatus.st_mode, kFolderMode) && ::fchmod(fd, kFolderMode) != 0) {
            throw POSIXFailure("chmod", folder, errno);
        }
        const int listFd = ::dup(fd);
        if (listFd < 0 || !(listing = ::fdopendir(listFd))) {
            if (listFd >= 0) ::close(listFd);
            throw POSIXFailure("open", folder, errno);
        }
        while (const dirent* entry = ::readdir(listing)) {
            struct stat status {};
            if (::fstatat(fd, entry->d_name, &status, AT_SYMLINK_NOFOLLOW) != 0) continue;
            if (!S_ISREG(status.st_mode) || status.st_uid != ::geteuid() || !wider(status.st_mode, kFileMode)) continue;
            // The folder is the user's alone by now: the name can't be swapped for a link.
            if (::fchmodat(fd, entry->d_name, kFileMode, 0) != 0) {
                throw POSIXFailure("chmod", PathUtil::join(folder, entry->d_name), errno);
            }
        }
    } catch (...) {
        if (listing) ::closedir(listing);
        ::close(fd);
        throw;
    }
    ::closedir(listing);
    ::close(fd);
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
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, kFileMode);
    if (fd < 0) {
        if (errno == EEXIST) return;
        throw POSIXFailure("create", path, errno);
    }
    ::close(fd);
}

}  // namespace keldwick::PrivateFolder
