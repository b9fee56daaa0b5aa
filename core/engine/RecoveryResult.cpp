#include "engine/RecoveryResult.h"

#include <array>

namespace keldwick {

namespace {

constexpr std::array<std::string_view, 8> actionNames = {
    "rolledBack", "rolledForward", "deferred", "markedReturned",
    "markedLinkMissing", "relinked", "adopted", "unchanged",
};

}  // namespace

std::string_view toString(RecoveryAction action) { return actionNames[static_cast<size_t>(action)]; }

std::optional<RecoveryAction> parseRecoveryAction(std::string_view text) {
    for (size_t index = 0; index < actionNames.size(); ++index)
        if (actionNames[index] == text) return static_cast<RecoveryAction>(index);
    return std::nullopt;
}

}  // namespace keldwick

size_t std::hash<keldwick::RecoveryResult>::operator()(const keldwick::RecoveryResult& result) const noexcept {
    size_t seed = std::hash<int64_t>{}(result.recordID);
    auto mix = [&seed](size_t value) { seed ^= value + 0x9e3779b97f4a7c15ULL + (seed << 6) + (seed >> 2); };
    mix(std::hash<std::string>{}(result.name));
    mix(static_cast<size_t>(result.action));
    mix(result.detail ? std::hash<std::string>{}(*result.detail) : 0x51ed27);
    return seed;
}
