#include "desktop/PortalSettings.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>

#include "model/MainThread.h"

namespace keldwick {

QVariant unwrapPortalValue(QVariant value) {
    while (value.metaType() == QMetaType::fromType<QDBusVariant>()) value = qvariant_cast<QDBusVariant>(value).variant();
    return value;
}

PortalSettings::PortalSettings(QDBusConnection bus, QObject* parent) : QObject(parent), bus_(std::move(bus)) {
    assertMainThread();
    // The slot's argument type must be known by name before the connection, or no signal
    // would ever arrive.
    qRegisterMetaType<QDBusVariant>();
    // Matched by the service's name, so a portal started later (or restarted) is heard too.
    bus_.connect(QString::fromLatin1(service), QString::fromLatin1(path), QString::fromLatin1(interface),
                 QStringLiteral("SettingChanged"), this, SLOT(portalChanged(QString, QString, QDBusVariant)));
}

void PortalSettings::read(const QString& nameSpace, const QString& key,
                          std::function<void(std::optional<QVariant>)> done) {
    assertMainThread();
    call(nameSpace, key, true, std::move(done));
}

void PortalSettings::call(const QString& nameSpace, const QString& key, bool readOne,
                          std::function<void(std::optional<QVariant>)> done) {
    if (!bus_.isConnected()) {
        // No session bus at all: answered from the event loop, as a reply would be.
        QMetaObject::invokeMethod(this, [done = std::move(done)] { done(std::nullopt); }, Qt::QueuedConnection);
        return;
    }
    QDBusMessage message =
        QDBusMessage::createMethodCall(QString::fromLatin1(service), QString::fromLatin1(path),
                                       QString::fromLatin1(interface),
                                       readOne ? QStringLiteral("ReadOne") : QStringLiteral("Read"));
    message << nameSpace << key;
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(message, readTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, watcher, nameSpace, key, readOne, done = std::move(done)]() mutable {
                watcher->deleteLater();
                const QDBusMessage reply = watcher->reply();
                if (reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty()) {
                    done(unwrapPortalValue(reply.arguments().constFirst()));
                    return;
                }
                // Portals before version 2 know only Read.
                if (readOne && reply.errorName() == QLatin1String("org.freedesktop.DBus.Error.UnknownMethod")) {
                    call(nameSpace, key, false, std::move(done));
                    return;
                }
                // No portal, no such setting, or no answer in time: the caller's default holds.
                done(std::nullopt);
            });
}

void PortalSettings::portalChanged(const QString& nameSpace, const QString& key, const QDBusVariant& value) {
    emit settingChanged(nameSpace, key, unwrapPortalValue(value.variant()));
}

}  // namespace keldwick
