#include "model/QuitWait.h"

#include <algorithm>
#include <thread>

namespace keldwick {

QuitWait finishForQuit(ThreadPoolExecutor& executor, std::chrono::steady_clock::time_point deadline,
                       const std::shared_ptr<Journal>& journal, std::chrono::milliseconds grace) {
    using namespace std::chrono;
    executor.stop();
    QuitWait wait;
    const auto left = std::max(milliseconds(0), ceil<milliseconds>(deadline - steady_clock::now()));
    wait.finished = executor.finishWithin(left);
    if (wait.finished || !journal) return wait;
    // The lock has no timed wait; the worker holding it ends its transaction in moments.
    std::unique_lock<std::recursive_mutex> hold(journal->lock(), std::defer_lock);
    const auto giveUp = steady_clock::now() + grace;
    while (!hold.try_lock()) {
        if (steady_clock::now() >= giveUp) return wait;
        std::this_thread::sleep_for(milliseconds(5));
    }
    wait.journal = std::move(hold);
    return wait;
}

}  // namespace keldwick
