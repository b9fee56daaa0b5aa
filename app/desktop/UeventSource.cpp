#include "desktop/UeventSource.h"

#include <linux/netlink.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/FileIO.h"
#include "platform/Sysfs.h"

namespace keldwick {

namespace {

constexpr unsigned kKernelGroup = 1;
constexpr unsigned kUdevGroup = 2;

class NetlinkUevents final : public UeventSource {
public:
    NetlinkUevents(platform::Fd fd, unsigned group) : fd_(std::move(fd)), group_(group) {}

    int descriptor() const override { return fd_.get(); }

    std::vector<Uevent> receive(bool& lost) override {
        std::vector<Uevent> events;
        static thread_local char buffer[16384];
        for (;;) {
            sockaddr_nl sender{};
            iovec io{buffer, sizeof buffer};
            alignas(cmsghdr) char control[CMSG_SPACE(sizeof(ucred))];
            msghdr message{};
            message.msg_name = &sender;
            message.msg_namelen = sizeof sender;
            message.msg_iov = &io;
            message.msg_iovlen = 1;
            message.msg_control = control;
            message.msg_controllen = sizeof control;
            ssize_t got = ::recvmsg(fd_.get(), &message, MSG_DONTWAIT);
            if (got < 0) {
                if (errno == EINTR) continue;
                if (errno == ENOBUFS) {
                    lost = true;
                    continue;
                }
                break;  // EAGAIN: nothing more waits
            }
            if (message.msg_flags & MSG_TRUNC) continue;
            if (!fromRoot(message, sender)) continue;
            if (auto event = Uevent::parse(std::string_view(buffer, static_cast<size_t>(got)))) {
                events.push_back(std::move(*event));
            }
        }
        return events;
    }

private:
    // The kernel sends as port 0; udevd runs as root. Anyone else could forge events.
    bool fromRoot(msghdr& message, const sockaddr_nl& sender) const {
        if (group_ == kKernelGroup && sender.nl_pid != 0) return false;
        for (cmsghdr* header = CMSG_FIRSTHDR(&message); header; header = CMSG_NXTHDR(&message, header)) {
            if (header->cmsg_level == SOL_SOCKET && header->cmsg_type == SCM_CREDENTIALS) {
                ucred credentials{};
                std::memcpy(&credentials, CMSG_DATA(header), sizeof credentials);
                return credentials.uid == 0;
            }
        }
        return false;
    }

    platform::Fd fd_;
    unsigned group_;
};

}  // namespace

std::unique_ptr<UeventSource> openNetlinkUevents(const platform::SystemRoots& roots, std::string& whyNot) {
    unsigned group = platform::Sysfs::exists(platform::Sysfs::parent(roots.udevData) + "/control") ? kUdevGroup : kKernelGroup;
    platform::Fd fd(::socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, NETLINK_KOBJECT_UEVENT));
    if (!fd) {
        whyNot = std::string("the uevent socket can't be opened: ") + std::strerror(errno);
        return nullptr;
    }
    int on = 1;
    ::setsockopt(fd.get(), SOL_SOCKET, SO_PASSCRED, &on, sizeof on);
    // Plugging in a hub announces dozens of devices at once.
    int size = 1 << 20;
    if (::setsockopt(fd.get(), SOL_SOCKET, SO_RCVBUFFORCE, &size, sizeof size) != 0) {
        ::setsockopt(fd.get(), SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    }
    sockaddr_nl address{};
    address.nl_family = AF_NETLINK;
    address.nl_groups = group;
    if (::bind(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        whyNot = std::string("the uevent socket can't be bound: ") + std::strerror(errno);
        return nullptr;
    }
    return std::make_unique<NetlinkUevents>(std::move(fd), group);
}

}  // namespace keldwick
