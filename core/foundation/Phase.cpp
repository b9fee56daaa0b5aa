#include "foundation/Phase.h"

#include "foundation/EnumNames.h"

namespace keldwick {

namespace {

constexpr EnumNames::Name<Phase> kPhaseNames[] = {
    {Phase::offloadCopying, "offload-copying"},
    {Phase::offloadVerified, "offload-verified"},
    {Phase::offloadSwapping, "offload-swapping"},
    {Phase::offloadCleanup, "offload-cleanup"},
    {Phase::offloaded, "offloaded"},
    {Phase::restoreCopying, "restore-copying"},
    {Phase::restoreSwapping, "restore-swapping"},
    {Phase::restoreCleanup, "restore-cleanup"},
    {Phase::restored, "restored"},
    {Phase::abandoned, "abandoned"},
    {Phase::superseded, "superseded"},
    {Phase::returned, "returned"},
    {Phase::linkMissing, "link-missing"},
};

}  // namespace

std::string_view toString(Phase phase) {
    return EnumNames::spellingOf(kPhaseNames, phase, "offload-copying");
}

std::optional<Phase> parsePhase(std::string_view text) {
    return EnumNames::valueOf(kPhaseNames, text);
}

bool isInFlight(Phase phase) {
    switch (phase) {
        case Phase::offloadCopying:
        case Phase::offloadVerified:
        case Phase::offloadSwapping:
        case Phase::offloadCleanup:
        case Phase::restoreCopying:
        case Phase::restoreSwapping:
        case Phase::restoreCleanup: return true;
        default: return false;
    }
}

bool isFinished(Phase phase) {
    return phase == Phase::restored || phase == Phase::abandoned || phase == Phase::superseded;
}

}  // namespace keldwick
