// The system log reaches a listener that comes later or is replaced, as when the syslog
// daemon starts after the program or restarts under it.

#include "foundation/Log.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>

#include "platform/FileIO.h"
#include "support/TempDir.h"

namespace keldwick {
namespace {

// A datagram socket bound at `path`, as the syslog daemon's.
platform::Fd listen(const std::string& path) {
    platform::Fd socket(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    EXPECT_EQ(::bind(socket.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address), 0) << path;
    return socket;
}

// The lines waiting on `socket`.
std::string received(const platform::Fd& socket) {
    std::string lines;
    char buffer[2048];
    for (ssize_t n; (n = ::recv(socket.get(), buffer, sizeof buffer, 0)) > 0;) lines.append(buffer, size_t(n)) += '\n';
    return lines;
}

TEST(LogTest, AListenerThatComesLaterOrIsReplacedHearsTheNextLines) {
    test::TempDir dir;
    const std::string path = dir / "log";
    Log::useListener(path, std::chrono::milliseconds(300));

    // Nobody listens: dropped, and not tried again before the retry interval.
    Log::notice("test", "before the listener");
    platform::Fd first = listen(path);
    Log::notice("test", "too soon");
    EXPECT_EQ(received(first), "");
    std::this_thread::sleep_for(std::chrono::milliseconds(350));
    Log::notice("test", "after the retry");
    const std::string heard = received(first);
    EXPECT_NE(heard.find("com.orvandel.Keldwick["), std::string::npos);
    EXPECT_NE(heard.find("]: [test] after the retry"), std::string::npos) << heard;
    EXPECT_EQ(heard.find("too soon"), std::string::npos);

    // The daemon restarts: its socket is replaced, and the next line reaches the new one.
    first.reset();
    ::unlink(path.c_str());
    platform::Fd second = listen(path);
    Log::error("test", "after the restart");
    EXPECT_NE(received(second).find("[test] after the restart"), std::string::npos);

    Log::useListener("/dev/log");
}

}  // namespace
}  // namespace keldwick
