#include "engine/RecoveryResult.h"

#include "foundation/EnumNames.h"

namespace keldwick {

namespace {

constexpr EnumNames::Name<RecoveryAction> kActionNames[] = {
    {RecoveryAction::rolledBack, "rolledBack"},
    {RecoveryAction::rolledForward, "rolledForward"},
    {RecoveryAction::deferred, "deferred"},
    {RecoveryAction::markedReturned, "markedReturned"},
    {RecoveryAction::markedLinkMissing, "markedLinkMissing"},
    {RecoveryAction::relinked, "relinked"},
    {RecoveryAction::adopted, "adopted"},
    {RecoveryAction::unchanged, "unchanged"},
};

}  // namespace

std::string_view toString(RecoveryAction action) { return EnumNames::spellingOf(kActionNames, action); }

std::optional<RecoveryAction> parseRecoveryAction(std::string_view text) {
    return EnumNames::valueOf(kActionNames, text);
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
