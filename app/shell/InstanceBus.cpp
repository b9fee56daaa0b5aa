#include "shell/InstanceBus.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QUrl>

namespace keldwick {

namespace {

// The bus's own default: the owner answers at once (see below), so only an owner that is
// hung runs into it; a shorter wait on a busy machine started a second instance whose
// "already running" alert stood beside the move the owner went on to make.
constexpr int handOverTimeoutMs = 25'000;

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

// The caller's answer goes out when a bus slot returns, so the work waits for the event
// loop: a move's planning or a panel being built never holds a launcher past its wait.
void InstanceBus::ShowPanel() {
    QMetaObject::invokeMethod(this, [this] { emit showPanelRequested(); }, Qt::QueuedConnection);
}

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
    if (paths.empty()) return;
    QMetaObject::invokeMethod(
        this, [this, paths = std::move(paths)] { emit moveRequested(paths); }, Qt::QueuedConnection);
}

}  // namespace keldwick
