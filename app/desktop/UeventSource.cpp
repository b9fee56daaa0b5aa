#include "desktop/UeventSource.h"

#include <cerrno>
#include <cstring>

#include "platform/FileIO.h"
#include "platform/Sysfs.h"
#include "platform/UeventSocket.h"

namespace keldwick {

namespace {

class NetlinkUevents final : public UeventSource {
public:
    NetlinkUevents(platform::Fd fd, bool fromUdev) : fd_(std::move(fd)), fromUdev_(fromUdev) {}

    int descriptor() const override { return fd_.get(); }

    std::vector<Uevent> receive(bool& lost) override {
        std::vector<Uevent> events;
        static thread_local char buffer[16384];
        for (;;) {
            bool trusted = false;
            ssize_t got = platform::receiveUevent(fd_.get(), fromUdev_, buffer, sizeof buffer, trusted);
            if (got < 0) {
                if (errno == EINTR) continue;
                if (errno == ENOBUFS) {
                    lost = true;
                    continue;
                }
                break;  // EAGAIN: nothing more waits
            }
            if (!trusted) continue;
            if (auto event = Uevent::parse(std::string_view(buffer, static_cast<size_t>(got)))) {
                events.push_back(std::move(*event));
            }
        }
        return events;
    }

private:
    platform::Fd fd_;
    bool fromUdev_;
};

}  // namespace

std::unique_ptr<UeventSource> openNetlinkUevents(const platform::SystemRoots& roots, std::string& whyNot) {
    const bool fromUdev = platform::Sysfs::exists(platform::Sysfs::parent(roots.udevData) + "/control");
    const char* step = "open";
    platform::Fd fd = platform::openUeventSocket(fromUdev, step);
    if (!fd) {
        const int error = errno;
        const std::string how = std::string(step) == "bind" ? "bound" : "opened";
        whyNot = "the uevent socket can't be " + how + ": " + std::strerror(error);
        return nullptr;
    }
    return std::make_unique<NetlinkUevents>(std::move(fd), fromUdev);
}

}  // namespace keldwick
