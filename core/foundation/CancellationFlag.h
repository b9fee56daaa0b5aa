#pragma once
// The Stop button's flag, shared (std::shared_ptr) by the program and one engine
// operation. It can only be set: the program makes a fresh flag for each operation.

#include <mutex>

namespace keldwick {

class CancellationFlag {
public:
    CancellationFlag() = default;
    CancellationFlag(const CancellationFlag&) = delete;
    CancellationFlag& operator=(const CancellationFlag&) = delete;

    bool isCancelled() const {
        std::lock_guard guard(lock_);
        return cancelled_;
    }

    void cancel() {
        std::lock_guard guard(lock_);
        cancelled_ = true;
    }

private:
    mutable std::mutex lock_;
    bool cancelled_ = false;
};

}  // namespace keldwick
