#include "foundation/Formatting.h"

#include <array>
#include <charconv>

namespace keldwick {

namespace {

// "1234567" as "1,234,567".
std::string withGrouping(const std::string& digits) {
    std::string grouped;
    for (size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) grouped += ',';
        grouped += digits[i];
    }
    return grouped;
}

}  // namespace

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
    // to_chars ignores the C library's locale, which the toolkit sets from the environment.
    char buffer[64];
    const auto written = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, digits);
    const std::string number(buffer, written.ptr);
    const size_t point = number.find('.');
    // Only a count of 1,000 PB or more reaches the grouping.
    return withGrouping(number.substr(0, point)) + (point == std::string::npos ? "" : number.substr(point)) + " " +
           units[unit];
}

std::string countText(int64_t count) {
    const std::string digits = std::to_string(count);
    if (count < 0) return "-" + withGrouping(digits.substr(1));
    return withGrouping(digits);
}

std::string quoted(std::string_view name) {
    std::string text = "\u201C";
    text += name;
    text += "\u201D";
    return text;
}

}  // namespace keldwick
