#pragma once
// The program's one way back to the main thread: whatever runs on another thread (the
// model's work, a listing of the drive, an update's install, a probe of a disk) hands its
// result to its owner through a relay, never by queuing a call to the owner or the
// application itself. The owner keeps its relay as an OwnedRelay member, which closes it
// when the owner goes; a worker holds the relay, never the object, so once the relay is
// closed every later hand-over is dropped, and queued ones die with the object.
// BackgroundWork pairs a relay with an executor where the owner has one at hand.

#include <QObject>
#include <functional>
#include <memory>
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

// A relay to its owner, as a member of the owner: made for it and closed when the owner's
// members go. A hand-over posted before that is queued to the owner, still whole as a
// QObject, and dies with it; none reaches the owner's code once it is being destroyed,
// since both run on the owner's thread.
class OwnedRelay {
public:
    explicit OwnedRelay(QObject* owner) : relay_(std::make_shared<MainThreadRelay>(owner)) {}
    ~OwnedRelay() { relay_->close(); }
    OwnedRelay(const OwnedRelay&) = delete;
    OwnedRelay& operator=(const OwnedRelay&) = delete;

    // What workers hold.
    const std::shared_ptr<MainThreadRelay>& shared() const { return relay_; }

private:
    std::shared_ptr<MainThreadRelay> relay_;
};

}  // namespace keldwick
