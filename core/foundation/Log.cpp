#include "foundation/Log.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <syslog.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <mutex>
#include <string>
#include <utility>

#include "platform/FileIO.h"

namespace keldwick::Log {

namespace {

constexpr const char* ident = "com.orvandel.Keldwick";
constexpr const char* listenerPath = "/dev/log";

int priority(Level level) {
    switch (level) {
        case Level::debug: return LOG_DEBUG;
        case Level::info: return LOG_INFO;
        case Level::notice: return LOG_NOTICE;
        case Level::error: return LOG_ERR;
        case Level::fault: return LOG_CRIT;
    }
    return LOG_INFO;
}

// The system log's socket, connected once. syslog(3) tries to connect again on every
// line while nobody listens (a socket and a failed connect per line); here a log without
// a listener at the first line stays quiet for the life of the process.
class SystemLog {
public:
    SystemLog() {
        platform::Fd socket(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
        if (!socket) return;
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, listenerPath, sizeof address.sun_path - 1);
        if (::connect(socket.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0)
            fd_ = std::move(socket);
    }

    // The line in the format syslog(3) sends: "<priority>Mmm dd hh:mm:ss ident[pid]: text".
    void send(int level, const std::string& text) {
        if (!fd_) return;
        char stamp[32] = "";
        const time_t now = ::time(nullptr);
        struct tm local {};
        if (::localtime_r(&now, &local)) ::strftime(stamp, sizeof stamp, "%h %e %T", &local);
        std::string line = "<" + std::to_string(LOG_USER | level) + ">" + stamp + " " + ident + "[" +
                           std::to_string(::getpid()) + "]: " + text;
        // A listener that went away drops the line; the log never blocks the caller.
        while (::send(fd_.get(), line.data(), line.size(), MSG_NOSIGNAL | MSG_DONTWAIT) < 0 && errno == EINTR) {
        }
    }

private:
    platform::Fd fd_;
};

}  // namespace

void write(Level level, std::string_view category, std::string_view message) noexcept {
    try {
        // Never destroyed: other objects' destructors may still log at exit.
        static SystemLog& log = *new SystemLog;
        std::string line;
        line.reserve(category.size() + message.size() + 3);
        line.append("[").append(category).append("] ").append(message);
        log.send(priority(level), line);
    } catch (...) {
        // Out of memory while logging: nothing sensible is left to do.
    }
}

}  // namespace keldwick::Log
