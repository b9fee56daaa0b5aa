#include "desktop/WakeWatch.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>

#include <sys/timerfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <ctime>

#include "model/DriveLog.h"
#include "model/MainThread.h"

namespace keldwick {

namespace {

const QString kLogind = QStringLiteral("org.freedesktop.login1");

double seconds(clockid_t clock) {
    timespec now{};
    ::clock_gettime(clock, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

}  // namespace

WakeWatch::WakeWatch(Options options, QObject* parent) : QObject(parent), options_(std::move(options)) {
    timer_.setInterval(options_.tickMilliseconds);
    connect(&timer_, &QTimer::timeout, this, [this] { tick(); });
    jumpPause_.setSingleShot(true);
    jumpPause_.setInterval(options_.jumpPauseMilliseconds);
    connect(&jumpPause_, &QTimer::timeout, this, [this] { listenAgain(); });
}

double WakeWatch::systemSuspendedSeconds() { return seconds(CLOCK_BOOTTIME) - seconds(CLOCK_MONOTONIC); }

platform::Fd WakeWatch::openClockJumpTimer() {
    platform::Fd fd(::timerfd_create(CLOCK_REALTIME, TFD_NONBLOCK | TFD_CLOEXEC));
    if (fd && !armClockJumpTimer(fd.get())) {
        const int error = errno;
        fd.reset();
        errno = error;
    }
    return fd;
}

bool WakeWatch::armClockJumpTimer(int fd) {
    // Set to expire in about a century: only its cancellation on a clock jump is wanted.
    itimerspec when{};
    when.it_value.tv_sec = ::time(nullptr) + 100LL * 365 * 24 * 3600;
    return ::timerfd_settime(fd, TFD_TIMER_ABSTIME | TFD_TIMER_CANCEL_ON_SET, &when, nullptr) == 0;
}

void WakeWatch::start() {
    assertMainThread();
    if (started_) return;
    started_ = true;
    if (!options_.useSystemBus) {
        watchClocks(QStringLiteral("the system bus is not used"));
        return;
    }
    QDBusConnection bus = options_.bus ? *options_.bus : QDBusConnection::systemBus();
    if (!bus.isConnected()) {
        watchClocks(QStringLiteral("there is no system bus"));
        return;
    }
    bus.connect(kLogind, QStringLiteral("/org/freedesktop/login1"), QStringLiteral("org.freedesktop.login1.Manager"),
                QStringLiteral("PrepareForSleep"), this, SLOT(prepareForSleep(bool)));
    // Whether logind runs at all is asked without waiting for the answer.
    auto* pending = new QDBusPendingCallWatcher(bus.interface()->asyncCall(QStringLiteral("NameHasOwner"), kLogind),
                                                this);
    connect(pending, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* call) {
        QDBusPendingReply<bool> reply = *call;
        call->deleteLater();
        if (reply.isError() || !reply.value()) watchClocks(QStringLiteral("logind is not on the system bus"));
    });
}

void WakeWatch::prepareForSleep(bool starting) {
    assertMainThread();
    if (!starting) report();
}

void WakeWatch::watchClocks(const QString& why) {
    lastSuspended_ = options_.suspendedSeconds();
    errno = 0;
    clockJumps_ = options_.openClockJumps ? options_.openClockJumps() : platform::Fd();
    if (!clockJumps_) {
        tickInstead(why, errno);
        return;
    }
    qCInfo(keldwickDriveLog).noquote() << "Noticing wake-ups from the clocks when they jump:" << why;
    clockJumpNotifier_ = std::make_unique<QSocketNotifier>(clockJumps_.get(), QSocketNotifier::Read);
    connect(clockJumpNotifier_.get(), &QSocketNotifier::activated, this, [this] { clocksJumped(); });
}

void WakeWatch::tickInstead(const QString& why, int error) {
    jumpPause_.stop();
    // Possibly called from the notifier's own signal: it goes once that has returned.
    if (clockJumpNotifier_) {
        clockJumpNotifier_->setEnabled(false);
        clockJumpNotifier_.release()->deleteLater();
    }
    clockJumps_.reset();
    qCInfo(keldwickDriveLog).noquote() << "Noticing wake-ups from the clocks every few seconds:" << why
                                       << "and no timer tells of the clock's jumps:" << std::strerror(error);
    timer_.start();
}

void WakeWatch::clocksJumped() {
    assertMainThread();
    // A cancelled timerfd answers ECANCELED and stays readable until armed again.
    uint64_t expirations = 0;
    [[maybe_unused]] const ssize_t read = ::read(clockJumps_.get(), &expirations, sizeof expirations);
    tick();
    // Jumps in the pause go unheard; the look when it ends sees any sleep among them.
    clockJumpNotifier_->setEnabled(false);
    jumpPause_.start();
}

void WakeWatch::listenAgain() {
    assertMainThread();
    errno = 0;
    if (options_.awaitNextClockJump && !options_.awaitNextClockJump(clockJumps_.get())) {
        tickInstead(QStringLiteral("the clock jumped"), errno);
        return;
    }
    tick();
    clockJumpNotifier_->setEnabled(true);
}

void WakeWatch::tick() {
    assertMainThread();
    double suspended = options_.suspendedSeconds();
    bool slept = suspended - lastSuspended_ > options_.minimumSleepSeconds;
    lastSuspended_ = suspended;
    if (slept) report();
}

void WakeWatch::report() {
    if (onWake) onWake();
}

}  // namespace keldwick
