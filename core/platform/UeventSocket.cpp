#include "platform/UeventSocket.h"

#include <linux/netlink.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>

namespace keldwick::platform {

namespace {

constexpr unsigned kKernelGroup = 1;
constexpr unsigned kUdevGroup = 2;

bool fromRoot(msghdr& message, const sockaddr_nl& sender, bool fromUdev) {
    if (!fromUdev && sender.nl_pid != 0) return false;
    for (cmsghdr* header = CMSG_FIRSTHDR(&message); header; header = CMSG_NXTHDR(&message, header)) {
        if (header->cmsg_level == SOL_SOCKET && header->cmsg_type == SCM_CREDENTIALS) {
            ucred credentials{};
            std::memcpy(&credentials, CMSG_DATA(header), sizeof credentials);
            return credentials.uid == 0;
        }
    }
    return false;
}

}  // namespace

Fd openUeventSocket(bool fromUdev, const char*& step) {
    step = "open";
    Fd fd(::socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, NETLINK_KOBJECT_UEVENT));
    if (!fd) return fd;
    int on = 1;
    ::setsockopt(fd.get(), SOL_SOCKET, SO_PASSCRED, &on, sizeof on);
    int size = 1 << 20;
    if (::setsockopt(fd.get(), SOL_SOCKET, SO_RCVBUFFORCE, &size, sizeof size) != 0) {
        ::setsockopt(fd.get(), SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    }
    sockaddr_nl address{};
    address.nl_family = AF_NETLINK;
    address.nl_groups = fromUdev ? kUdevGroup : kKernelGroup;
    if (::bind(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        step = "bind";
        const int error = errno;
        fd.reset();
        errno = error;
    }
    return fd;
}

ssize_t receiveUevent(int fd, bool fromUdev, char* buffer, std::size_t size, bool& trusted) {
    sockaddr_nl sender{};
    iovec io{buffer, size};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(ucred))];
    msghdr message{};
    message.msg_name = &sender;
    message.msg_namelen = sizeof sender;
    message.msg_iov = &io;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    const ssize_t got = ::recvmsg(fd, &message, MSG_DONTWAIT);
    trusted = got >= 0 && (message.msg_flags & MSG_TRUNC) == 0 && fromRoot(message, sender, fromUdev);
    return got;
}

}  // namespace keldwick::platform
