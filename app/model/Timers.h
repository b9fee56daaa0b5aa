#pragma once
// One-shot timers on the main thread, injected so tests advance time by hand. The
// model's waits (the next check, the mount watch, the wake poll) are all timers; a wait
// that is cancelled or replaced is simply a timer that is dropped.

#include <functional>
#include <memory>

namespace keldwick {

// A pending timer. Destroying it cancels it: the callback is never called afterwards.
class Timer {
public:
    virtual ~Timer() = default;
};

class Timers {
public:
    virtual ~Timers() = default;
    // Calls `fire` once on the main thread after `seconds` of monotonic time (0 or less:
    // at the next turn of the event loop), unless the returned timer is destroyed first.
    virtual std::unique_ptr<Timer> after(double seconds, std::function<void()> fire) = 0;
};

// Qt's precise single-shot timers on the calling (main) thread's event loop.
class QtTimers final : public Timers {
public:
    std::unique_ptr<Timer> after(double seconds, std::function<void()> fire) override;
};

}  // namespace keldwick
