#pragma once
// The places the active records of one drive hold, lower-cased with Utf8::lowercased,
// so that a run answers "is this place taken?" for each item without reading every
// record again. Read from the journal once, on first need (a failed read is tried
// again on the next need), then kept in step by the run: the owner calls refresh() with
// each record it inserted or changed.
//
// The journal stays the truth: the index only mirrors what its owner wrote since the
// read, so it belongs to one operation, under the engine's operation lock, and is not
// shared across operations. A record's paths never change once written, only its phase.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "foundation/Journal.h"
#include "foundation/OffloadRecord.h"
#include "foundation/Phase.h"

namespace keldwick {

class HeldPlaces {
public:
    HeldPlaces(std::shared_ptr<Journal> journal, std::string driveID)
        : journal_(std::move(journal)), driveID_(std::move(driveID)) {}

    // Refuses an item whose original path, or whose drive path (or a folder above or
    // below it), an active record of this drive holds, letter case ignored. When several
    // do, the oldest record decides: olderCopyOnDrive when it is "returned" or
    // "link-missing", else alreadyManaged. Throws SQLiteError when a read fails.
    void check(const std::string& originalPath, const std::string& relativePath);

    // Whether an active record of this drive holds exactly this lower-cased drive path.
    bool isTaken(const std::string& lowercasedRelativePath);

    // The record as it is now: held while it is active and of this drive, else let go.
    void refresh(const OffloadRecord& record);

private:
    // Sorted vectors hold what the read gave (built in one sort, the cheapest way to index
    // a hundred thousand records); ordered maps hold what the run added since.
    using Keyed = std::pair<std::string, int64_t>;  // a lower-cased drive path, the record's id
    using Hashed = std::pair<size_t, int64_t>;      // the hash of a lower-cased original path, the id

    void load();
    // The phase of the record while it holds a place.
    std::optional<Phase> phaseOf(int64_t id) const;
    // Calls `found` with the id of every record holding a place under exactly `key`, or
    // under any key that begins with `key` when `prefix`.
    template <typename Found>
    void visit(const std::string& key, bool prefix, Found&& found) const;
    static size_t hashOf(const std::string& lowercased) { return std::hash<std::string>{}(lowercased); }

    std::shared_ptr<Journal> journal_;
    std::string driveID_;
    bool loaded_ = false;
    // By ascending id (ids only grow, so what the run adds goes at the end); no phase once
    // let go. An index entry whose record holds no place is skipped.
    std::vector<std::pair<int64_t, std::optional<Phase>>> phases_;
    std::vector<Hashed> readOriginals_;
    std::multimap<size_t, int64_t> addedOriginals_;
    std::vector<Keyed> readRelatives_;
    std::multimap<std::string, int64_t> addedRelatives_;
};

}  // namespace keldwick
