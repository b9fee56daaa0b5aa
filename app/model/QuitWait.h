#pragma once
// The end of the program's background work when it quits: one deadline, counted from the
// quit request, for everything still running.

#include <chrono>
#include <memory>
#include <mutex>

#include "foundation/Journal.h"
#include "model/BackgroundExecutor.h"

namespace keldwick {

struct QuitWait {
    static constexpr std::chrono::seconds limit{30};  // from the quit request

    bool finished = false;  // no work is left: the process may end normally
    // Work still runs: the journal's lock, held so that no transaction of this process is
    // open or can begin while the process ends at once. Empty without a journal, or when
    // the lock was not had within the grace.
    std::unique_lock<std::recursive_mutex> journal;
};

// Stops `executor` (queued work dropped, running work's cancel flags set) and waits for its
// work until `deadline`. Past it, takes `journal`'s lock, waiting at most `grace` more for a
// transaction under way to end; the caller then ends the process without running
// destructors under the work still running.
QuitWait finishForQuit(ThreadPoolExecutor& executor, std::chrono::steady_clock::time_point deadline,
                       const std::shared_ptr<Journal>& journal,
                       std::chrono::milliseconds grace = std::chrono::seconds(5));

}  // namespace keldwick
