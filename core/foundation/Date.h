#pragma once
// Points in time as the records, manifests and settings store them.

#include <compare>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace keldwick {

// An exact file time: seconds and nanoseconds since 1970 (nanoseconds in 0...999,999,999).
struct Timespec {
    int64_t seconds = 0;
    int64_t nanoseconds = 0;
    auto operator<=>(const Timespec&) const = default;
};

// A point in time as a double count of seconds since 1970 (UTC).
struct Date {
    double secondsSince1970 = 0;

    // Seconds between 1 January 1970 and 1 January 2001 (the reference date of
    // the settings file's dates).
    static constexpr double referenceOffset1970To2001 = 978307200.0;

    static Date fromTimespec(Timespec t);
    static Date fromSecondsSince2001(double s) { return Date{s + referenceOffset1970To2001}; }
    double secondsSince2001() const { return secondsSince1970 - referenceOffset1970To2001; }

    // ISO 8601 in UTC with whole seconds, "2024-05-01T12:00:00Z" (fractions are cut).
    std::string iso8601() const;
    // Reads "YYYY-MM-DDTHH:MM:SS" followed by "Z" or a "+HH:MM"/"-HH:MM" offset, with an
    // optional fraction of a second; nothing for anything else.
    static std::optional<Date> parseISO8601(std::string_view text);

    Date adding(double seconds) const { return Date{secondsSince1970 + seconds}; }
    double timeIntervalSince(Date other) const { return secondsSince1970 - other.secondsSince1970; }

    auto operator<=>(const Date&) const = default;

private:
    // The system clock's reading, for SystemClock alone: everything else takes its time
    // from an injected Clock.
    friend class SystemClock;
    static Date now();
};

}  // namespace keldwick
