#include "foundation/JournalEvent.h"

#include "foundation/EnumNames.h"

namespace keldwick {

namespace {

constexpr EnumNames::Name<EventLevel> kLevelNames[] = {
    {EventLevel::info, "info"},
    {EventLevel::warning, "warning"},
    {EventLevel::error, "error"},
};

}  // namespace

std::string_view toString(EventLevel level) {
    return EnumNames::spellingOf(kLevelNames, level, "info");
}

std::optional<EventLevel> parseEventLevel(std::string_view text) {
    return EnumNames::valueOf(kLevelNames, text);
}

}  // namespace keldwick
