#include "platform/FileLease.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>

#include "platform/FileIO.h"

namespace keldwick::platform::FileLease {

std::optional<bool> isHeldOpen(const std::string& path) {
    // Non-blocking, so that another holder's lease refuses the open instead of waiting
    // for that holder to give it up.
    Fd fd = openRead(path, O_NOFOLLOW | O_NONBLOCK | O_NOATIME);
    if (!fd) return std::nullopt;
    struct stat status {};
    if (::fstat(fd.get(), &status) != 0 || !S_ISREG(status.st_mode)) return std::nullopt;
    if (::fcntl(fd.get(), F_SETLEASE, F_WRLCK) == 0) {
        (void)::fcntl(fd.get(), F_SETLEASE, F_UNLCK);
        return false;
    }
    if (errno == EAGAIN) return true;
    return std::nullopt;
}

}  // namespace keldwick::platform::FileLease
