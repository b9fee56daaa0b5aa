#include "desktop/WakeWatch.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>

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
}

double WakeWatch::systemSuspendedSeconds() { return seconds(CLOCK_BOOTTIME) - seconds(CLOCK_MONOTONIC); }

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
    qCInfo(keldwickDriveLog).noquote() << "Noticing wake-ups from the clocks:" << why;
    lastSuspended_ = options_.suspendedSeconds();
    timer_.start();
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
