#include "foundation/JournalEvent.h"

namespace keldwick {

std::string_view toString(EventLevel level) {
    switch (level) {
        case EventLevel::info: return "info";
        case EventLevel::warning: return "warning";
        case EventLevel::error: return "error";
    }
    return "info";
}

std::optional<EventLevel> parseEventLevel(std::string_view text) {
    if (text == "info") return EventLevel::info;
    if (text == "warning") return EventLevel::warning;
    if (text == "error") return EventLevel::error;
    return std::nullopt;
}

}  // namespace keldwick
