#pragma once
// Notices the computer waking from sleep: logind's PrepareForSleep(false) on the system bus;
// where no logind answers there, the clocks: CLOCK_BOOTTIME runs on through a suspend and
// CLOCK_MONOTONIC does not, so a growing gap between them means the machine slept. The gap
// is looked at when the kernel says the real-time clock jumped, which it says on every
// resume (a timerfd cancelled on clock set), so an idle program isn't woken to look; only
// where no such timer can be made does a tick look every few seconds. After each jump the
// timer waits a pause before it listens again (and looks once more then), so a clock that
// something sets many times a second wakes the program once a pause, not at each setting.

#include <QDBusConnection>
#include <QObject>
#include <QSocketNotifier>
#include <QTimer>

#include <functional>
#include <memory>
#include <optional>

#include "platform/FileIO.h"

namespace keldwick {

class WakeWatch : public QObject {
    Q_OBJECT

public:
    struct Options {
        bool useSystemBus = true;
        // The bus logind is on; the system bus when not given.
        std::optional<QDBusConnection> bus;
        // Seconds the machine has spent suspended since boot.
        std::function<double()> suspendedSeconds = systemSuspendedSeconds;
        // A descriptor that turns readable when the clocks may have jumped, and what makes
        // it wait for the next jump once read; where either fails, the tick looks instead.
        std::function<platform::Fd()> openClockJumps = openClockJumpTimer;
        std::function<bool(int)> awaitNextClockJump = armClockJumpTimer;
        int tickMilliseconds = 5000;
        // After a jump, how long before the next one is listened for.
        int jumpPauseMilliseconds = 2000;
        // A gap that grows by more than this between two ticks is a sleep.
        double minimumSleepSeconds = 2.0;
    };

    explicit WakeWatch(Options options, QObject* parent = nullptr);

    // Called on the main thread after each wake; skipped when not set.
    std::function<void()> onWake;

    // Starts watching; later calls do nothing.
    void start();

    // CLOCK_BOOTTIME minus CLOCK_MONOTONIC, in seconds.
    static double systemSuspendedSeconds();
    // A timerfd on the real-time clock that the kernel cancels, making it readable, when the
    // clock is set or the machine resumes; invalid (errno set) where it can't be made.
    static platform::Fd openClockJumpTimer();
    // Arms it again after a jump; false (errno set) where it can't be.
    static bool armClockJumpTimer(int fd);

private slots:
    void prepareForSleep(bool starting);

private:
    void watchClocks(const QString& why);
    void tickInstead(const QString& why, int error);
    void clocksJumped();
    void listenAgain();
    void tick();
    void report();

    Options options_;
    QTimer timer_;
    QTimer jumpPause_;
    platform::Fd clockJumps_;
    std::unique_ptr<QSocketNotifier> clockJumpNotifier_;
    double lastSuspended_ = 0;
    bool started_ = false;
};

}  // namespace keldwick
