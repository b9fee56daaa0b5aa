#pragma once
// One line of the user-visible event log.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "foundation/Date.h"

namespace keldwick {

enum class EventLevel { info, warning, error };

// "info", "warning", "error".
std::string_view toString(EventLevel level);
// Exactly one of the three strings; nothing for any other.
std::optional<EventLevel> parseEventLevel(std::string_view text);

struct JournalEvent {
    int64_t id = 0;
    std::optional<int64_t> recordID;  // absent for events of the whole system
    Date date;
    EventLevel level = EventLevel::info;
    std::string message;

    bool operator==(const JournalEvent&) const = default;
};

}  // namespace keldwick
