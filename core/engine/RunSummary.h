#pragma once
// What one run of a plan, or one restore of everything, did: the items done, their bytes,
// the items that failed and why, and whether the loop stopped early.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace keldwick {

// One item that failed: the candidate's path (or the record's original path) and the
// error's sentence. Made by the engine.
struct RunFailure {
    std::string path;
    std::string message;

    bool operator==(const RunFailure&) const = default;
};

struct RunSummary {
    // Original paths of the items moved (or, in a dry run, that would move) or brought
    // back, in the order done.
    std::vector<std::string> completed;
    int64_t bytes = 0;  // sum of the completed items' sizes
    std::vector<RunFailure> failures;
    // The cancel flag was set, or an item reported cancellation.
    bool cancelled = false;
    // The sentence of the error that stopped the loop early (the drive went away), or, in
    // a restore of everything, the items of one drive (that drive went away).
    std::optional<std::string> stoppedBecause;
    bool dryRun = false;
    // Original paths of the items among `completed` whose link is in place but whose
    // record could not be finished (the journal failed after the swap): recovery
    // finishes them at the next start.
    std::vector<std::string> finishing;
    // A restore of everything: original paths of the items left on their drive because
    // this computer had no room for them, in the order tried.
    std::vector<std::string> noRoom;

    bool operator==(const RunSummary&) const = default;
};

}  // namespace keldwick

template <>
struct std::hash<keldwick::RunFailure> {
    size_t operator()(const keldwick::RunFailure& failure) const noexcept {
        size_t seed = std::hash<std::string>()(failure.path);
        return seed ^ (std::hash<std::string>()(failure.message) + 0x9e3779b97f4a7c15ULL + (seed << 6) + (seed >> 2));
    }
};
