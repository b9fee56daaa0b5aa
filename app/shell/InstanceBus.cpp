#include "shell/InstanceBus.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QUrl>

namespace keldwick {

namespace {

constexpr int handOverTimeoutMs = 5000;

}  // namespace

InstanceBus::InstanceBus(QDBusConnection bus, QObject* parent) : QObject(parent), bus_(std::move(bus)) {}

InstanceBus::Claim InstanceBus::claim() {
    if (!bus_.isConnected() || !bus_.interface()) return Claim::noBus;
    const auto reply = bus_.interface()->registerService(QString::fromLatin1(serviceName),
                                                         QDBusConnectionInterface::DontQueueService,
                                                         QDBusConnectionInterface::DontAllowReplacement);
    if (!reply.isValid()) return Claim::noBus;
    if (reply.value() != QDBusConnectionInterface::ServiceRegistered) return Claim::taken;
    bus_.registerObject(QString::fromLatin1(objectPath), this, QDBusConnection::ExportScriptableSlots);
    return Claim::owner;
}

void InstanceBus::handOver(const QStringList& moveUris, std::function<void(bool)> done) {
    const QString method = moveUris.isEmpty() ? QStringLiteral("ShowPanel") : QStringLiteral("MoveToDrive");
    QDBusMessage call = QDBusMessage::createMethodCall(QString::fromLatin1(serviceName), QString::fromLatin1(objectPath),
                                                       QString::fromLatin1(serviceName), method);
    if (!moveUris.isEmpty()) call << moveUris;
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(call, handOverTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [watcher, done = std::move(done)] {
        watcher->deleteLater();
        if (watcher->isError()) {
            qWarning("keldwick: the running instance did not answer: %s", qPrintable(watcher->error().message()));
        }
        done(!watcher->isError());
    });
}

void InstanceBus::ShowPanel() { emit showPanelRequested(); }

std::vector<std::string> InstanceBus::localPaths(const QStringList& uris) {
    std::vector<std::string> paths;
    for (const QString& uri : uris) {
        const QUrl url(uri, QUrl::StrictMode);
        if (!url.isValid() || url.scheme() != QLatin1String("file")) continue;
        // A file URI naming another host is not on this computer.
        if (!url.host().isEmpty() && url.host() != QLatin1String("localhost")) continue;
        // Decoded to bytes here, not through a string: a name need not be UTF-8.
        const QByteArray path = QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1());
        if (path.startsWith('/')) paths.emplace_back(path.constData(), static_cast<size_t>(path.size()));
    }
    return paths;
}

void InstanceBus::MoveToDrive(const QStringList& uris) {
    std::vector<std::string> paths = localPaths(uris);
    if (!paths.empty()) emit moveRequested(paths);
}

}  // namespace keldwick
