#pragma once
// Where a moved item stands on the roads of offload and restore. The strings are stored
// in the journal and must not change.

#include <array>
#include <optional>
#include <string_view>

namespace keldwick {

enum class Phase {
    offloadCopying,
    offloadVerified,
    offloadSwapping,
    offloadCleanup,
    offloaded,
    restoreCopying,
    restoreSwapping,
    restoreCleanup,
    restored,
    abandoned,
    superseded,
    returned,
    linkMissing,
};

// Every phase in declaration order.
inline constexpr std::array<Phase, 13> allPhases = {
    Phase::offloadCopying,  Phase::offloadVerified, Phase::offloadSwapping, Phase::offloadCleanup,
    Phase::offloaded,       Phase::restoreCopying,  Phase::restoreSwapping, Phase::restoreCleanup,
    Phase::restored,        Phase::abandoned,       Phase::superseded,      Phase::returned,
    Phase::linkMissing,
};

// "offload-copying" ... "link-missing".
std::string_view toString(Phase phase);
// Exactly one of the thirteen strings (case-sensitive); nothing for any other.
std::optional<Phase> parsePhase(std::string_view text);

// The working phases of both roads, which recovery finishes or undoes.
bool isInFlight(Phase phase);
// "restored", "abandoned" and "superseded": the record is history and keeps no tree.
bool isFinished(Phase phase);

}  // namespace keldwick
