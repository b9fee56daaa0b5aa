#include "desktop/WakeWatch.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>

#include <cerrno>
#include <cstring>

#include "model/DriveLog.h"
#include "model/MainThread.h"
#include "platform/ClockJumps.h"

namespace keldwick {

namespace {

const QString kLogind = QStringLiteral("org.freedesktop.login1");

}  // namespace

WakeWatch::WakeWatch(Options options, QObject* parent) : QObject(parent), options_(std::move(options)) {
    timer_.setInterval(options_.tickMilliseconds);
    connect(&timer_, &QTimer::timeout, this, [this] { tick(); });
    jumpPause_.setSingleShot(true);
    jumpPause_.setInterval(options_.jumpPauseMilliseconds);
    connect(&jumpPause_, &QTimer::timeout, this, [this] { listenAgain(); });
}

double WakeWatch::systemSuspendedSeconds() { return platform::suspendedSeconds(); }

platform::Fd WakeWatch::openClockJumpTimer() { return platform::openClockJumpTimer(); }

bool WakeWatch::armClockJumpTimer(int fd) { return platform::armClockJumpTimer(fd); }

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
    platform::clearClockJump(clockJumps_.get());
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
