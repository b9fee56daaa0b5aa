#include "platform/LogSocket.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <time.h>

#include <cerrno>
#include <cstring>

namespace keldwick::platform {

Fd connectDatagram(const std::string& socketPath) {
    Fd socket(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (!socket) return socket;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, socketPath.c_str(), sizeof address.sun_path - 1);
    if (::connect(socket.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        const int error = errno;
        socket.reset();
        errno = error;
    }
    return socket;
}

int sendDatagram(int fd, const std::string& bytes) {
    for (;;) {
        if (::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT) >= 0) return 0;
        if (errno != EINTR) return errno;
    }
}

std::string localTimeStamp() {
    char stamp[32] = "";
    const time_t now = ::time(nullptr);
    struct tm local {};
    if (::localtime_r(&now, &local)) ::strftime(stamp, sizeof stamp, "%h %e %T", &local);
    return stamp;
}

}  // namespace keldwick::platform
