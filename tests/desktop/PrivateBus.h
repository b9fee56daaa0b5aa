#pragma once
// A message bus of the test's own (dbus-daemon on a socket in a temporary folder), standing
// in for the system or session bus and the services on it.

#include <QDBusConnection>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <optional>
#include <string>

#include "support/TempDir.h"

namespace keldwick::test {

class PrivateBus {
public:
    // With `sessionServices`, the desktop session's services (gio's metadata store, ...)
    // start on demand as on a session bus; otherwise only the test's own are there.
    explicit PrivateBus(bool sessionServices = false);
    ~PrivateBus();
    PrivateBus(const PrivateBus&) = delete;
    PrivateBus& operator=(const PrivateBus&) = delete;

    // Why there is no bus ("dbus-daemon is not installed", ...), or nothing.
    const std::optional<std::string>& skipReason() const { return skipReason_; }
    const QString& address() const { return address_; }

    // A new connection to the bus, closed before the bus stops.
    QDBusConnection connect();

private:
    TempDir folder_;
    QProcess daemon_;
    QString address_;
    std::optional<std::string> skipReason_;
    QStringList connections_;
};

}  // namespace keldwick::test
