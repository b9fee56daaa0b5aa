#include "shell/TerminationSignal.h"

#include <cerrno>
#include <fcntl.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace keldwick {

namespace {

int writeEnd = -1;  // read by the handler only

void onTerminate(int) {
    const int saved = errno;
    const char byte = 1;
    // Nothing else is safe here; a full socket already holds a pending request.
    [[maybe_unused]] const ssize_t written = ::write(writeEnd, &byte, 1);
    errno = saved;
}

}  // namespace

TerminationSignal::TerminationSignal(QObject* parent) : QObject(parent) {
    if (writeEnd != -1) throw std::logic_error("TerminationSignal: one at a time");
    int sockets[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, sockets) != 0) {
        throw std::runtime_error("TerminationSignal: socketpair failed");
    }
    writeEnd_.reset(sockets[0]);
    readEnd_.reset(sockets[1]);
    writeEnd = writeEnd_.get();
    notifier_ = std::make_unique<QSocketNotifier>(readEnd_.get(), QSocketNotifier::Read);
    connect(notifier_.get(), &QSocketNotifier::activated, this, &TerminationSignal::drain);

    struct sigaction action {};
    action.sa_handler = onTerminate;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGTERM, &action, &previous_);
}

TerminationSignal::~TerminationSignal() {
    ::sigaction(SIGTERM, &previous_, nullptr);
    writeEnd = -1;
    notifier_.reset();
    writeEnd_.reset();
    readEnd_.reset();
}

void TerminationSignal::drain() {
    char bytes[64];
    bool any = false;
    while (::read(readEnd_.get(), bytes, sizeof bytes) > 0) any = true;
    if (any) emit received();
}

}  // namespace keldwick
