#pragma once
// A message bus of the test's own (dbus-daemon on a socket in a temporary folder), standing
// in for the system bus and the services on it.

#include <QProcess>
#include <QString>

#include <optional>
#include <string>

#include "support/TempDir.h"

namespace keldwick::test {

class PrivateBus {
public:
    PrivateBus();
    ~PrivateBus();
    PrivateBus(const PrivateBus&) = delete;
    PrivateBus& operator=(const PrivateBus&) = delete;

    // Why there is no bus ("dbus-daemon is not installed", ...), or nothing.
    const std::optional<std::string>& skipReason() const { return skipReason_; }
    const QString& address() const { return address_; }

private:
    TempDir folder_;
    QProcess daemon_;
    QString address_;
    std::optional<std::string> skipReason_;
};

}  // namespace keldwick::test
