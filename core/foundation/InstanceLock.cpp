#include "foundation/InstanceLock.h"

#include "foundation/FileOps.h"
#include "foundation/PathUtil.h"
#include "platform/FileIO.h"

namespace keldwick {

std::unique_ptr<InstanceLock> InstanceLock::acquire(const std::string& path) {
    try {
        createDirectory(PathUtil::parent(path));
    } catch (const std::exception&) {
        // The open below reports what matters.
    }
    platform::Fd fd(platform::calls().openAt(AT_FDCWD, path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
    if (!fd) return nullptr;
    if (platform::calls().flock(fd.get(), LOCK_EX | LOCK_NB) != 0) return nullptr;
    return std::unique_ptr<InstanceLock>(new InstanceLock(std::move(fd)));
}

InstanceLock::~InstanceLock() { platform::calls().flock(descriptor_.get(), LOCK_UN); }

}  // namespace keldwick
