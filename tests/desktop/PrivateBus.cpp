#include "desktop/PrivateBus.h"

#include "support/RealMounts.h"

#include <QUuid>

namespace keldwick::test {

PrivateBus::PrivateBus(bool sessionServices) {
    if (!run("command -v dbus-daemon")) {
        skipReason_ = "dbus-daemon is not installed";
        return;
    }
    // Anyone may own any name and call anything: the test plays every service.
    std::string config = writeFile(
        folder_ / "bus.conf",
        std::string("<busconfig><type>") + (sessionServices ? "session" : "system") + "</type><listen>unix:dir=" +
            folder_.path() + "</listen><auth>EXTERNAL</auth>" +
            (sessionServices ? "<standard_session_servicedirs/>" : "") +
            "<policy context=\"default\"><allow send_destination=\"*\"/><allow own=\"*\"/>"
            "<allow receive_sender=\"*\"/></policy></busconfig>");
    daemon_.start("dbus-daemon", {"--nofork", "--print-address=1", "--config-file=" + QString::fromStdString(config)});
    if (!daemon_.waitForReadyRead(5000)) {
        skipReason_ = "dbus-daemon did not start";
        return;
    }
    address_ = QString::fromUtf8(daemon_.readLine()).trimmed();
}

PrivateBus::~PrivateBus() {
    for (const QString& name : connections_) {
        QDBusConnection::disconnectFromBus(name);
    }
    if (daemon_.state() == QProcess::NotRunning) return;
    daemon_.terminate();
    if (!daemon_.waitForFinished(5000)) daemon_.kill();
}

QDBusConnection PrivateBus::connect() {
    QString name = QStringLiteral("private-bus-") + QUuid::createUuid().toString(QUuid::WithoutBraces);
    connections_.append(name);
    return QDBusConnection::connectToBus(address_, name);
}

}  // namespace keldwick::test
