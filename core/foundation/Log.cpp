#include "foundation/Log.h"

#include <cerrno>
#include <mutex>
#include <optional>
#include <string>
#include <utility>

#include "platform/FileIO.h"
#include "platform/LogSocket.h"
#include "platform/ProcessFacts.h"

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

// The system log's socket. syslog(3) tries to connect again on every line while nobody
// listens (a socket and a failed connect per line); here a missing listener is tried again
// at most once per retry interval, and a listener that went away (its socket replaced by a
// restarted daemon) at the next line. Lines may come from any thread.
class SystemLog {
public:
    void use(std::string path, std::chrono::milliseconds retry) {
        std::lock_guard<std::mutex> lock(mutex_);
        path_ = std::move(path);
        retry_ = retry;
        fd_.reset();
        lastFailure_.reset();
    }

    // The line in the format syslog(3) sends: "<priority>Mmm dd hh:mm:ss ident[pid]: text".
    void send(int level, const std::string& text) {
        const std::string line = "<" + std::to_string(LOG_USER | level) + ">" + platform::localTimeStamp() + " " +
                                 ident + "[" + std::to_string(platform::processID()) + "]: " + text;
        std::lock_guard<std::mutex> lock(mutex_);
        if (!fd_ && !connect()) return;
        if (deliver(line)) return;
        // The listener went away: a new one may be there already.
        fd_.reset();
        if (connect()) deliver(line);
    }

private:
    // False when the line could not be handed to the listener for good; a full buffer
    // drops the line without calling the listener gone. The log never blocks the caller.
    bool deliver(const std::string& line) {
        const int error = platform::sendDatagram(fd_.get(), line);
        return error == 0 || error == EAGAIN || error == EWOULDBLOCK || error == ENOBUFS || error == EMSGSIZE;
    }

    bool connect() {
        const auto now = std::chrono::steady_clock::now();
        if (lastFailure_ && now - *lastFailure_ < retry_) return false;
        platform::Fd socket = platform::connectDatagram(path_);
        if (socket) {
            fd_ = std::move(socket);
            lastFailure_.reset();
            return true;
        }
        lastFailure_ = now;
        return false;
    }

    std::mutex mutex_;
    std::string path_ = listenerPath;
    std::chrono::milliseconds retry_ = std::chrono::seconds(10);
    platform::Fd fd_;
    std::optional<std::chrono::steady_clock::time_point> lastFailure_;
};

// Never destroyed: other objects' destructors may still log at exit.
SystemLog& systemLog() {
    static SystemLog& log = *new SystemLog;
    return log;
}

}  // namespace

void write(Level level, std::string_view category, std::string_view message) noexcept {
    try {
        SystemLog& log = systemLog();
        std::string line;
        line.reserve(category.size() + message.size() + 3);
        line.append("[").append(category).append("] ").append(message);
        log.send(priority(level), line);
    } catch (...) {
        // Out of memory while logging: nothing sensible is left to do.
    }
}

void useListener(const std::string& path, std::chrono::milliseconds retry) { systemLog().use(path, retry); }

}  // namespace keldwick::Log
