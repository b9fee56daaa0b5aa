#include "foundation/Phase.h"

namespace keldwick {

std::string_view toString(Phase phase) {
    switch (phase) {
        case Phase::offloadCopying: return "offload-copying";
        case Phase::offloadVerified: return "offload-verified";
        case Phase::offloadSwapping: return "offload-swapping";
        case Phase::offloadCleanup: return "offload-cleanup";
        case Phase::offloaded: return "offloaded";
        case Phase::restoreCopying: return "restore-copying";
        case Phase::restoreSwapping: return "restore-swapping";
        case Phase::restoreCleanup: return "restore-cleanup";
        case Phase::restored: return "restored";
        case Phase::abandoned: return "abandoned";
        case Phase::superseded: return "superseded";
        case Phase::returned: return "returned";
        case Phase::linkMissing: return "link-missing";
    }
    return "offload-copying";
}

std::optional<Phase> parsePhase(std::string_view text) {
    for (Phase phase : allPhases) {
        if (toString(phase) == text) return phase;
    }
    return std::nullopt;
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
