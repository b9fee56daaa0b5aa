#pragma once
// Hands results from worker threads to an object on the main thread. A worker holds the
// relay (shared), never the object: once the object closes the relay on its way out,
// every later hand-over is dropped, and queued ones die with the object.

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
