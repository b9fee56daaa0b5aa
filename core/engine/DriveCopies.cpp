#include "engine/DriveCopies.h"

#include <algorithm>
#include <climits>

#include "engine/OffloadExecutor.h"
#include "foundation/Utf8.h"

namespace keldwick {

DriveCopies::Drive* DriveCopies::catchUp(const std::string& driveID, std::vector<Keyed>& pending) {
    // Inside a transaction everything read may be undone: nothing of it is kept.
    const bool provisional = journal_->db().inTransaction();
    auto found = drives_.find(driveID);
    if (found == drives_.end() && provisional) {
        journal_->places(driveID, OffloadExecutor::activePhases(), [&](const RecordPlace& place) {
            pending.emplace_back(Utf8::lowercased(place.driveRelativePath), place.id);
        });
        return nullptr;
    }
    // Every record up to the newest is read now: later reads start past it, whatever lies
    // between (finished records, other drives') being of no interest.
    const int64_t newest = journal_->newestRecordID();
    if (found == drives_.end()) {
        Drive fresh;
        journal_->places(driveID, OffloadExecutor::activePhases(), [&](const RecordPlace& place) {
            fresh.read.emplace_back(Utf8::lowercased(place.driveRelativePath), place.id);
            fresh.lastID = std::max(fresh.lastID, place.id);
        });
        std::sort(fresh.read.begin(), fresh.read.end());
        fresh.lastID = std::max(fresh.lastID, newest);
        return &drives_.emplace(driveID, std::move(fresh)).first->second;
    }
    Drive& drive = found->second;
    int64_t last = drive.lastID;
    journal_->places(
        driveID, OffloadExecutor::activePhases(),
        [&](const RecordPlace& place) {
            if (provisional) {
                pending.emplace_back(Utf8::lowercased(place.driveRelativePath), place.id);
                return;
            }
            drive.added.emplace(Utf8::lowercased(place.driveRelativePath), place.id);
            last = std::max(last, place.id);
        },
        drive.lastID);
    if (!provisional) drive.lastID = std::max(last, newest);
    return &drive;
}

int64_t DriveCopies::heldInside(const OffloadRecord& record) {
    // The journal's lock first, as every caller inside a transaction already holds it.
    std::lock_guard journalGuard(journal_->lock());
    std::lock_guard guard(lock_);
    std::vector<Keyed> pending;
    const Drive* drive = catchUp(record.driveID, pending);

    const std::string mine = Utf8::lowercased(record.driveRelativePath);
    const std::string mineAsFolder = mine.ends_with("/") ? mine : mine + "/";
    auto covers = [&](const std::string& theirs) { return theirs == mine || theirs.starts_with(mineAsFolder); };

    std::set<int64_t> candidates;
    auto visit = [&](const std::string& key, bool prefix) {
        auto matches = [&](const std::string& theirs) { return prefix ? theirs.starts_with(key) : theirs == key; };
        if (!drive) return;
        for (auto entry = std::lower_bound(drive->read.begin(), drive->read.end(), Keyed{key, INT64_MIN});
             entry != drive->read.end() && matches(entry->first); ++entry)
            candidates.insert(entry->second);
        for (auto entry = drive->added.lower_bound(key); entry != drive->added.end() && matches(entry->first);
             ++entry)
            candidates.insert(entry->second);
    };
    visit(mine, false);
    visit(mineAsFolder, true);
    for (const auto& [theirs, id] : pending)
        if (covers(theirs)) candidates.insert(id);

    for (int64_t id : candidates) {
        if (id == record.id || finished_.contains(id)) continue;
        auto other = journal_->record(id);
        if (!other) continue;
        if (isFinished(other->phase)) {
            finished_.insert(id);
            continue;
        }
        return id;
    }
    return 0;
}

}  // namespace keldwick
