#pragma once
// The desktop's settings as the XDG desktop portal publishes them to sandboxed and plain
// programs alike (org.freedesktop.portal.Settings on the session bus): one value read by
// namespace and key, and every change the portal announces.
//
// A desktop without a portal is normal, not a fault: a read then answers none, quietly,
// and the caller keeps its default.

#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <QVariant>
#include <functional>
#include <optional>

class QDBusVariant;

namespace keldwick {

// The portal's own desktop-wide settings (colour scheme, reduced motion).
inline constexpr const char* appearanceNamespace = "org.freedesktop.appearance";

class PortalSettings final : public QObject {
    Q_OBJECT

public:
    static constexpr const char* service = "org.freedesktop.portal.Desktop";
    static constexpr const char* path = "/org/freedesktop/portal/desktop";
    static constexpr const char* interface = "org.freedesktop.portal.Settings";
    // How long a read waits for the portal (starting it included) before it counts as absent.
    static constexpr int readTimeoutMs = 5000;

    // Listens for changes on `bus` from now on. Main thread only.
    explicit PortalSettings(QDBusConnection bus = QDBusConnection::sessionBus(), QObject* parent = nullptr);

    // Asks for one value; `done` runs later on the main thread with it, or with none when
    // the desktop has no portal, the portal doesn't know the key, or it didn't answer.
    // Never runs once this object is gone.
    void read(const QString& nameSpace, const QString& key, std::function<void(std::optional<QVariant>)> done);

signals:
    // The portal announced a new value (already unwrapped from its D-Bus variant).
    void settingChanged(const QString& nameSpace, const QString& key, const QVariant& value);

private slots:
    void portalChanged(const QString& nameSpace, const QString& key, const QDBusVariant& value);

private:
    // `readOne` false: the older Read call, for portals before version 2.
    void call(const QString& nameSpace, const QString& key, bool readOne,
              std::function<void(std::optional<QVariant>)> done);

    QDBusConnection bus_;
};

// A value as it comes off the bus, with every D-Bus variant wrapping it taken off
// (Read wraps its answer twice).
QVariant unwrapPortalValue(QVariant value);

}  // namespace keldwick
