#pragma once
// The program's one way back to the main thread: whatever runs on another thread (the
// model's work, a listing of the drive, an update's install, a probe of a disk) hands its
// result to its owner through a relay, never by queuing a call to the owner or the
// application itself. The owner keeps its relay (shared with its workers) and closes it
// in its destructor; a worker holds the relay, never the object, so once the relay is
// closed every later hand-over is dropped, and queued ones die with the object.
// BackgroundWork pairs a relay with an executor where the owner has one at hand.

#include <QObject>
#include <functional>
#include <mutex>

namespace keldwick {

class MainThreadRelay {
public:
    explicit MainThreadRelay(QObject* target) : target_(target) {}

    // Any thread: calls `call` on the target's thread, in the order of posting, unless
    // the relay is closed by then.
    void post(std::function<void()> call);

    // The target's thread, before the target goes away.
    void close();

private:
    std::mutex lock_;
    QObject* target_;
};

}  // namespace keldwick
