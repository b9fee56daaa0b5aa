#include "foundation/Formatting.h"

#include <array>
#include <cstdio>

namespace keldwick {

std::string byteCountText(int64_t bytes) {
    if (bytes < 1000) {
        if (bytes == 1) return "1 byte";
        return std::to_string(bytes < 0 ? 0 : bytes) + " bytes";
    }
    static constexpr std::array<const char*, 5> units{"KB", "MB", "GB", "TB", "PB"};
    double value = static_cast<double>(bytes) / 1000.0;
    size_t unit = 0;
    // 999.5 rather than 1,000: a value that would round up to 1000 moves to the next unit.
    while (value >= 999.5 && unit + 1 < units.size()) {
        value /= 1000.0;
        ++unit;
    }
    int digits = value >= 99.95 ? 0 : value >= 9.995 ? 1 : 2;
    char buffer[64];
    // "'": the locale's digit grouping, which only a count of 1,000 PB or more reaches.
    std::snprintf(buffer, sizeof buffer, "%'.*f %s", digits, value, units[unit]);
    return buffer;
}

std::string quoted(std::string_view name) {
    std::string text = "\u201C";
    text += name;
    text += "\u201D";
    return text;
}

}  // namespace keldwick
