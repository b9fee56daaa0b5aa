#include "model/Timers.h"

#include <QTimer>
#include <cmath>
#include <limits>

namespace keldwick {

namespace {

class QtTimer final : public Timer {
public:
    // The single-shot timer lives apart from its context object, so a callback that drops
    // this handle (replacing its own wait) does not delete the timer that is calling it.
    QtTimer(double seconds, std::function<void()> fire) {
        QTimer::singleShot(milliseconds(seconds), Qt::PreciseTimer, &context_, std::move(fire));
    }

private:
    // QTimer takes an int of milliseconds; longer waits than it holds are clamped (a day
    // is far below the limit).
    static int milliseconds(double seconds) {
        if (!(seconds > 0)) return 0;
        const double ms = std::ceil(seconds * 1000);
        return ms >= std::numeric_limits<int>::max() ? std::numeric_limits<int>::max() : static_cast<int>(ms);
    }

    QObject context_;
};

}  // namespace

std::unique_ptr<Timer> QtTimers::after(double seconds, std::function<void()> fire) {
    return std::make_unique<QtTimer>(seconds, std::move(fire));
}

}  // namespace keldwick
