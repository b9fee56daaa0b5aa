#pragma once
// The desktop portal's Settings interface played on a test bus: values by namespace and
// key, announced changes, and an older portal that knows only Read.

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QMutex>
#include <map>
#include <utility>

#include "desktop/PortalSettings.h"

namespace keldwick::test {

class FakePortal final : public QDBusVirtualObject {
public:
    // Serves on `connection` under the portal's name and path.
    explicit FakePortal(QDBusConnection connection, bool knowsReadOne = true)
        : connection_(std::move(connection)), knowsReadOne_(knowsReadOne) {
        connection_.registerVirtualObject(QString::fromLatin1(PortalSettings::path), this);
        connection_.registerService(QString::fromLatin1(PortalSettings::service));
    }
    ~FakePortal() override {
        connection_.unregisterService(QString::fromLatin1(PortalSettings::service));
        connection_.unregisterObject(QString::fromLatin1(PortalSettings::path));
    }

    void set(const QString& nameSpace, const QString& key, const QVariant& value) {
        QMutexLocker lock(&mutex_);
        values_[{nameSpace, key}] = value;
    }
    // Stores the value and announces it, as the portal does when the user changes it.
    void change(const QString& nameSpace, const QString& key, const QVariant& value) {
        set(nameSpace, key, value);
        QDBusMessage signal = QDBusMessage::createSignal(QString::fromLatin1(PortalSettings::path),
                                                         QString::fromLatin1(PortalSettings::interface),
                                                         QStringLiteral("SettingChanged"));
        signal << nameSpace << key << QVariant::fromValue(QDBusVariant(value));
        connection_.send(signal);
    }
    int calls() {
        QMutexLocker lock(&mutex_);
        return calls_;
    }

    QString introspect(const QString&) const override { return QString(); }

    // Runs on the bus's own thread.
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
        if (message.interface() != QLatin1String(PortalSettings::interface) || message.arguments().size() != 2) {
            return false;
        }
        const bool readOne = message.member() == QLatin1String("ReadOne");
        if (!readOne && message.member() != QLatin1String("Read")) return false;
        QMutexLocker lock(&mutex_);
        ++calls_;
        if (readOne && !knowsReadOne_) {
            connection.send(message.createErrorReply(QDBusError::UnknownMethod, QStringLiteral("No such method")));
            return true;
        }
        auto found = values_.find({message.arguments()[0].toString(), message.arguments()[1].toString()});
        if (found == values_.end()) {
            connection.send(message.createErrorReply(QStringLiteral("org.freedesktop.portal.Error.NotFound"),
                                                     QStringLiteral("Requested setting not found")));
            return true;
        }
        QVariant answer = QVariant::fromValue(QDBusVariant(found->second));
        // Read wraps its answer in one more variant.
        if (!readOne) answer = QVariant::fromValue(QDBusVariant(answer));
        connection.send(message.createReply(answer));
        return true;
    }

private:
    QDBusConnection connection_;
    bool knowsReadOne_;
    QMutex mutex_;
    std::map<std::pair<QString, QString>, QVariant> values_;
    int calls_ = 0;
};

}  // namespace keldwick::test
