#pragma once
// Walks the managed folders into the items that could move to the drive, ranked, and a
// report of what it refused and why. Reads the file system only; never changes it.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "foundation/CancellationFlag.h"
#include "foundation/Date.h"
#include "foundation/OpenFileChecking.h"
#include "scanning/Candidate.h"
#include "scanning/OffloadPolicy.h"
#include "scanning/Ranker.h"
#include "scanning/ScanRule.h"

namespace keldwick {

// An item the scan refused, with the short sentence the user sees.
struct SkippedItem {
    std::string path;
    std::string reason;

    const std::string& id() const { return path; }
    bool operator==(const SkippedItem&) const = default;
};

struct ScanReport {
    std::vector<Candidate> candidates;  // one per path, ranked
    std::vector<SkippedItem> skipped;   // the first skippedReportLimit skips, in the order found
    int64_t skippedCount = 0;           // every skip, also those beyond the limit
    int64_t itemsVisited = 0;           // items looked at in the walk and the device pass
    double duration = 0;                // seconds

    bool operator==(const ScanReport&) const = default;
};

// The text of an item whose name can't be written to the journal or the manifest.
inline constexpr const char* kUnrecordableNameReason = "Name has characters that can't be recorded";
// An item whose blocks are all shared (reflinks on btrfs or xfs): moving it frees nothing.
inline constexpr const char* kSharedDataReason = "Its data is shared with a snapshot or another copy, so moving it "
                                                 "frees nothing";

struct Scanner {
    OffloadPolicy policy;
    RuleList rules;  // asked in order; the first reason wins
    // The folder holding emulator device folders; nothing means no device pass.
    std::optional<std::string> emulatorDevices;
    // Folders walked but never proposed as one whole folder (compared as stored).
    std::unordered_set<std::string> fixedFolders;
    // Last-used dates by exact path (the recently-used bookmarks).
    std::unordered_map<std::string, Date> lastUsedDates;
    // Files and working folders held open when the scan began.
    std::vector<OpenFileUsage> inUse;
    Date now;  // every age is measured from here
    Ranker ranker;
    int64_t skippedReportLimit = 2000;
    // Threads the walk runs on, the calling thread among them; at least 1. Folders are
    // shared out among them, and the report is the same whatever their number or timing.
    int threads = 1;
    // When set and raised, the scan stops soon (a whole-folder inspection under way runs
    // to its end) and throws CancellationError rather than report part of the tree.
    std::shared_ptr<const CancellationFlag> cancel;

    Scanner(OffloadPolicy policy, RuleList rules, std::unordered_map<std::string, Date> lastUsedDates,
            std::vector<OpenFileUsage> inUse, Date now);

    // Walks the roots (resolved; repeats and nested roots walked once) and the emulator
    // devices' folder. Candidates: files and packages that qualify, the outermost qualifying plain
    // folders (holding what qualified inside them as parts), and code projects and
    // idle emulator devices (carrying their names) as whole items; ranked. What can't be read is left out and keeps
    // its folder from moving whole. Throws CancellationError (see `cancel`),
    // std::invalid_argument for fewer than one thread, and what a rule throws.
    ScanReport scan(const std::vector<std::string>& roots) const;

    // Why a managed folder can't be scanned at all: "Folder not found" when it can't be
    // read, else the first rule's reason for its folders or for itself. Never throws.
    std::optional<std::string> reasonToSkip(const std::string& managedFolder) const;
    static std::optional<std::string> reasonToSkip(const std::string& managedFolder, const RuleList& rules);
};

}  // namespace keldwick

template <>
struct std::hash<keldwick::SkippedItem> {
    size_t operator()(const keldwick::SkippedItem& item) const noexcept {
        return std::hash<std::string>{}(item.path) * 31 + std::hash<std::string>{}(item.reason);
    }
};
