#pragma once
// SIGTERM (a logout, `kill`, a service manager) as an ordinary quit request on the event
// loop: the handler only writes a byte to a socket, and the rest happens on the main
// thread, so a running move is asked to stop and waited for like any other quit.

#include <QObject>
#include <QSocketNotifier>
#include <csignal>
#include <memory>

#include "platform/FileIO.h"

namespace keldwick {

class TerminationSignal final : public QObject {
    Q_OBJECT

public:
    // Installs the handler; one instance at a time. The previous handler comes back
    // when the instance goes.
    explicit TerminationSignal(QObject* parent = nullptr);
    ~TerminationSignal() override;
    TerminationSignal(const TerminationSignal&) = delete;
    TerminationSignal& operator=(const TerminationSignal&) = delete;

signals:
    void received();

private:
    void drain();

    platform::Fd writeEnd_;  // the handler's
    platform::Fd readEnd_;
    std::unique_ptr<QSocketNotifier> notifier_;
    struct sigaction previous_ {};
};

}  // namespace keldwick
