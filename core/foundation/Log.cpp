#include "foundation/Log.h"

#include <syslog.h>

#include <mutex>
#include <string>

namespace keldwick::Log {

namespace {

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

}  // namespace

void write(Level level, std::string_view category, std::string_view message) noexcept {
    static std::once_flag opened;
    std::call_once(opened, [] { openlog("com.orvandel.Keldwick", LOG_PID | LOG_NDELAY, LOG_USER); });
    try {
        std::string line;
        line.reserve(category.size() + message.size() + 3);
        line.append("[").append(category).append("] ").append(message);
        syslog(priority(level), "%s", line.c_str());
    } catch (...) {
        // Out of memory while logging: nothing sensible is left to do.
    }
}

}  // namespace keldwick::Log
