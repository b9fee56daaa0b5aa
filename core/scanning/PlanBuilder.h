#pragma once
// Scans the managed folders, ranks what it finds and plans just enough of it to free the
// bytes needed within the room left on the drive. Used for automatic runs, the preview and
// the estimate of what could move at all.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "foundation/Clock.h"
#include "foundation/Date.h"
#include "foundation/OpenFileChecking.h"
#include "scanning/OffloadPlanner.h"
#include "scanning/OffloadPolicy.h"
#include "scanning/ScanRule.h"
#include "scanning/Scanner.h"

namespace keldwick {

struct PlanBuilder {
    std::vector<std::string> folders;              // the managed folders, scanned in this order
    std::optional<std::string> emulatorDevices;   // inspected as well when set
    std::vector<std::string> fixedFolders;         // walked but never proposed whole
    RuleList rules;
    OffloadPolicy policy;
    std::shared_ptr<const OpenFileChecking> openFiles;
    int64_t driveReserveBytes = 1'073'741'824;     // always left free on the drive (1 GiB)
    // The scan's threads (at least 1) and its Stop flag; see Scanner.
    int threads = 1;
    std::shared_ptr<const CancellationFlag> cancel;

    // Where the facts come from; tests replace them. Defaults: the recently-used bookmark
    // dates under the given roots, the volume's available bytes (nothing when unreadable),
    // whether the drive's volume keeps file metadata natively.
    std::function<std::unordered_map<std::string, Date>(const std::vector<std::string>&)> lastUsedDates;
    std::function<std::optional<int64_t>(const std::string&)> availableBytes;
    std::function<bool(const std::string&)> storesMetadataNatively;
    // Items' ages are counted up to its now; must be given (std::invalid_argument from the
    // builds when none).
    std::shared_ptr<const Clock> clock;

    PlanBuilder(std::vector<std::string> folders, RuleList rules, OffloadPolicy policy,
                std::shared_ptr<const OpenFileChecking> openFiles);

    struct Result {
        ScanReport report;
        OffloadPlan plan;
    };

    // Gathers the last-used dates and the open files once, scans, and selects from the
    // ranked candidates within max(available bytes on the drive - reserve, 0). Open files
    // and dates are gathered for each folder both as stored and as resolved, since
    // processes report resolved paths and the walk runs over resolved folders. Throws only
    // what the scan throws (CancellationError once `cancel` is raised).
    Result build(int64_t bytesNeeded, const std::string& driveRoot) const;

    // What the drive can take now: its available bytes (0 when unreadable) minus the
    // reserve, never below 0.
    int64_t driveRoom(const std::string& driveRoot) const;

    // Everything that could move now: a plan for an unlimited need, so each candidate that
    // fits the drive goes whole and only those that don't are split.
    int64_t movableBytes(const std::string& driveRoot) const;

    // The open-file uses at or inside one of `roots` (as given or resolved), from one
    // system-wide query.
    static std::vector<OpenFileUsage> usesUnder(const std::vector<std::string>& roots,
                                                const OpenFileChecking& checker);
};

}  // namespace keldwick
