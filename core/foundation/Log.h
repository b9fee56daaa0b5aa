#pragma once
// The system log. Messages go to syslog(3) under the ident "com.orvandel.Keldwick",
// each prefixed with its category ("journal", "drive", ...). Logging never throws.

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
