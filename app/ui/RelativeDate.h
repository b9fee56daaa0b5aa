#pragma once
// Dates relative to now, as people say them: "5 minutes ago", "yesterday", "last week",
// "in 2 hours"; and dates as lists show them: "Mar 1, 2026". Plain functions; safe from
// any thread.

#include <string>

#include "foundation/Date.h"

namespace keldwick {

// The largest whole unit between `date` and `now` (seconds below a minute, then minutes,
// hours, days below a week, weeks below 30 days, months of 30 days below 365 days, then
// years), in the locale's wording with named forms where it has them ("now",
// "yesterday", "last week", "next month"). `locale` is an ICU locale id; empty means the
// interface's language (English) in the process's default region.
std::string relativeDateText(Date date, Date now, const std::string& locale = "");

// When a run happened: "Just now" under 60 seconds either way, otherwise the relative
// text with its first letter upper-cased ("Yesterday", "5 minutes ago").
std::string lastRunText(Date date, Date now, const std::string& locale = "");

// The date abbreviated as the locale writes it ("Mar 1, 2026" in American English), with
// the time of day short ("Mar 1, 2026, 4:12 PM") when `withTime`; in the local time zone.
// Empty `locale`: the interface's English in the process's default region ("1 Mar 2026"
// in Germany), as for relativeDateText.
std::string abbreviatedDateText(Date date, bool withTime, const std::string& locale = "");

}  // namespace keldwick
