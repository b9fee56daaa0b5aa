#pragma once
// The system log. Messages go to the syslog socket under the ident "com.orvandel.Keldwick",
// each prefixed with its category ("journal", "drive", ...). The socket is connected at the
// first message; when the listener goes away (the syslog daemon restarts) it is connected
// again, and where no listener is there, it is tried again at most once every 10 seconds,
// the lines in between dropped. Logging never throws and never waits for the listener.

#include <chrono>
#include <string>
#include <string_view>

namespace keldwick::Log {

enum class Level { debug, info, notice, error, fault };

void write(Level level, std::string_view category, std::string_view message) noexcept;

// Sends later lines to the datagram socket at `path` ("/dev/log" until called), trying a
// missing listener again after `retry`. For tests, which listen on sockets of their own.
void useListener(const std::string& path, std::chrono::milliseconds retry = std::chrono::seconds(10));

inline void info(std::string_view category, std::string_view message) { write(Level::info, category, message); }
inline void notice(std::string_view category, std::string_view message) {
    write(Level::notice, category, message);
}
inline void error(std::string_view category, std::string_view message) { write(Level::error, category, message); }

}  // namespace keldwick::Log
