#pragma once
// The single-instance lock: an exclusive flock on "keldwick.lock" in the support folder,
// held for the program's whole run. The file is never written or deleted.

#include <memory>
#include <string>

#include "platform/FileIO.h"

namespace keldwick {

class InstanceLock {
public:
    // Creates the lock file's folder when missing (errors ignored), opens the file
    // (O_RDWR|O_CREAT|O_CLOEXEC, 0600) and takes an exclusive, non-blocking flock. Nothing
    // when another process holds the lock or any step fails.
    static std::unique_ptr<InstanceLock> acquire(const std::string& path);

    // Releases the lock and closes the file.
    ~InstanceLock();
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    int descriptor() const { return descriptor_.get(); }

private:
    explicit InstanceLock(platform::Fd descriptor) : descriptor_(std::move(descriptor)) {}

    platform::Fd descriptor_;
};

}  // namespace keldwick
