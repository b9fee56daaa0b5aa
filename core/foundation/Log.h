#pragma once
// The system log. Messages go to the syslog socket under the ident "com.orvandel.Keldwick",
// each prefixed with its category ("journal", "drive", ...). The socket is connected once,
// at the first message; where no listener is there then, nothing is logged. Logging never
// throws and never waits for the listener.

#include <string_view>

namespace keldwick::Log {

enum class Level { debug, info, notice, error, fault };

void write(Level level, std::string_view category, std::string_view message) noexcept;

inline void info(std::string_view category, std::string_view message) { write(Level::info, category, message); }
inline void notice(std::string_view category, std::string_view message) {
    write(Level::notice, category, message);
}
inline void error(std::string_view category, std::string_view message) { write(Level::error, category, message); }

}  // namespace keldwick::Log
