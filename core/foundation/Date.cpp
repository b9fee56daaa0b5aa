#include "foundation/Date.h"

#include <chrono>
#include <cmath>
#include <cstdio>

namespace keldwick {

Date Date::now() {
    using namespace std::chrono;
    auto ns = duration_cast<nanoseconds>(system_clock::now().time_since_epoch()).count();
    return Date{static_cast<double>(ns) / 1e9};
}

Date Date::fromTimespec(Timespec t) {
    return Date{static_cast<double>(t.seconds) + static_cast<double>(t.nanoseconds) / 1e9};
}

std::string Date::iso8601() const {
    using namespace std::chrono;
    const sys_seconds whole{seconds{static_cast<int64_t>(std::floor(secondsSince1970))}};
    const auto day = floor<days>(whole);
    const year_month_day date{day};
    const hh_mm_ss time{whole - day};
    char buffer[96];
    std::snprintf(buffer, sizeof buffer, "%04d-%02u-%02uT%02d:%02d:%02dZ", static_cast<int>(date.year()),
                  static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                  static_cast<int>(time.hours().count()), static_cast<int>(time.minutes().count()),
                  static_cast<int>(time.seconds().count()));
    return buffer;
}

namespace {

bool digits(std::string_view text, size_t at, size_t count, int& value) {
    if (at + count > text.size()) return false;
    value = 0;
    for (size_t i = at; i < at + count; ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        value = value * 10 + (text[i] - '0');
    }
    return true;
}

}  // namespace

std::optional<Date> Date::parseISO8601(std::string_view text) {
    int year, month, day, hour, minute, second;
    if (!digits(text, 0, 4, year) || text.size() < 19 || text[4] != '-' || !digits(text, 5, 2, month) ||
        text[7] != '-' || !digits(text, 8, 2, day) || (text[10] != 'T' && text[10] != 't') ||
        !digits(text, 11, 2, hour) || text[13] != ':' || !digits(text, 14, 2, minute) || text[16] != ':' ||
        !digits(text, 17, 2, second)) {
        return std::nullopt;
    }
    if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 60) {
        return std::nullopt;
    }
    size_t at = 19;
    double fraction = 0;
    if (at < text.size() && text[at] == '.') {
        ++at;
        double scale = 0.1;
        size_t start = at;
        while (at < text.size() && text[at] >= '0' && text[at] <= '9') {
            fraction += (text[at] - '0') * scale;
            scale /= 10;
            ++at;
        }
        if (at == start) return std::nullopt;
    }
    int offsetSeconds = 0;
    if (at < text.size() && (text[at] == 'Z' || text[at] == 'z')) {
        ++at;
    } else if (at < text.size() && (text[at] == '+' || text[at] == '-')) {
        int oh, om;
        if (!digits(text, at + 1, 2, oh) || at + 3 >= text.size() || text[at + 3] != ':' ||
            !digits(text, at + 4, 2, om)) {
            return std::nullopt;
        }
        offsetSeconds = (oh * 3600 + om * 60) * (text[at] == '-' ? -1 : 1);
        at += 6;
    } else {
        return std::nullopt;
    }
    if (at != text.size()) return std::nullopt;

    // A day past the month's end runs on into the next month.
    using namespace std::chrono;
    const sys_days date = sys_days{std::chrono::year{year} / month / 1} + days{day - 1};
    const auto sinceEpoch = (date + hours{hour} + minutes{minute} + std::chrono::seconds{second}).time_since_epoch();
    return Date{static_cast<double>(sinceEpoch.count()) - offsetSeconds + fraction};
}

}  // namespace keldwick
