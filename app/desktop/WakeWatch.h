#pragma once
// Notices the computer waking from sleep: logind's PrepareForSleep(false) on the system bus;
// where no logind answers there, the clocks: CLOCK_BOOTTIME runs on through a suspend and
// CLOCK_MONOTONIC does not, so a growing gap between them means the machine slept.

#include <QDBusConnection>
#include <QObject>
#include <QTimer>

#include <functional>
#include <optional>

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
        int tickMilliseconds = 5000;
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

private slots:
    void prepareForSleep(bool starting);

private:
    void watchClocks(const QString& why);
    void tick();
    void report();

    Options options_;
    QTimer timer_;
    double lastSuspended_ = 0;
    bool started_ = false;
};

}  // namespace keldwick
