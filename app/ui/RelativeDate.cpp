#include "ui/RelativeDate.h"

#include <cmath>
#include <memory>
#include <unicode/datefmt.h>
#include <unicode/locid.h>
#include <unicode/reldatefmt.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>

namespace keldwick {

namespace {

constexpr double minute = 60, hour = 3600, day = 86400, week = 7 * day, month = 30 * day, year = 365 * day;

// The windows speak English: a date in the user's language would sit inside an English
// sentence or table. The region still comes from the locale (the order of day and month,
// the clock's hours).
icu::Locale interfaceLocaleFor(const std::string& id) {
    return id.empty() ? icu::Locale("en", icu::Locale::getDefault().getCountry()) : icu::Locale(id.c_str());
}

icu::UnicodeString relativeText(Date date, Date now, const std::string& locale) {
    const double delta = date.timeIntervalSince(now);  // negative in the past
    const double distance = std::fabs(delta);
    struct Unit {
        URelativeDateTimeUnit unit;
        double size;
        const char* name;
    };
    static constexpr Unit units[] = {
        {UDAT_REL_UNIT_YEAR, year, "year"},     {UDAT_REL_UNIT_MONTH, month, "month"},
        {UDAT_REL_UNIT_WEEK, week, "week"},     {UDAT_REL_UNIT_DAY, day, "day"},
        {UDAT_REL_UNIT_HOUR, hour, "hour"},     {UDAT_REL_UNIT_MINUTE, minute, "minute"},
        {UDAT_REL_UNIT_SECOND, 1, "second"},
    };
    const Unit* chosen = &units[6];
    for (const Unit& u : units) {
        if (distance >= u.size) {
            chosen = &u;
            break;
        }
    }
    const URelativeDateTimeUnit unit = chosen->unit;
    const double size = chosen->size;
    // Whole units, as a calendar's components count them: 90 minutes is "1 hour ago".
    const double count = std::trunc(distance / size);
    const double offset = delta < 0 ? -count : count;

    UErrorCode status = U_ZERO_ERROR;
    icu::RelativeDateTimeFormatter formatter(interfaceLocaleFor(locale), nullptr, UDAT_STYLE_LONG,
                                             UDISPCTX_CAPITALIZATION_NONE, status);
    icu::UnicodeString text;
    if (U_SUCCESS(status)) formatter.format(offset, unit, text, status);
    if (U_FAILURE(status)) {
        // Only an ICU without its data gets here: say it in English rather than nothing.
        const std::string amount = std::to_string(static_cast<int64_t>(count)) + " " + chosen->name +
                                   (count == 1 ? "" : "s");
        text = icu::UnicodeString::fromUTF8(delta < 0 ? amount + " ago" : "in " + amount);
    }
    return text;
}

std::string capitalised(icu::UnicodeString text) {
    if (!text.isEmpty()) {
        const UChar32 first = text.char32At(0);
        text.replace(0, U16_LENGTH(first), static_cast<UChar32>(u_toupper(first)));
    }
    std::string result;
    text.toUTF8String(result);
    return result;
}

}  // namespace

std::string relativeDateText(Date date, Date now, const std::string& locale) {
    std::string result;
    relativeText(date, now, locale).toUTF8String(result);
    return result;
}

std::string lastRunText(Date date, Date now, const std::string& locale) {
    if (std::fabs(date.timeIntervalSince(now)) < 60) return "Just now";
    return capitalised(relativeText(date, now, locale));
}

std::string abbreviatedDateText(Date date, bool withTime, const std::string& locale) {
    const std::unique_ptr<icu::DateFormat> format(
        withTime ? icu::DateFormat::createDateTimeInstance(icu::DateFormat::kMedium, icu::DateFormat::kShort,
                                                           interfaceLocaleFor(locale))
                 : icu::DateFormat::createDateInstance(icu::DateFormat::kMedium, interfaceLocaleFor(locale)));
    // Only an ICU without its data has no format: the stored form is still a date.
    if (!format) return withTime ? date.iso8601() : date.iso8601().substr(0, 10);
    icu::UnicodeString text;
    format->format(date.secondsSince1970 * 1000.0, text);
    std::string result;
    text.toUTF8String(result);
    return result;
}

}  // namespace keldwick
