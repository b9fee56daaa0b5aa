#pragma once
// The places on each drive that unfinished records hold, lower-cased with Utf8::lowercased,
// so that asking whether a drive copy is or holds another record's copy costs the same
// whatever the journal's size. Kept by the engine across operations, unlike the run's
// HeldPlaces, because a selection is brought back one operation per item.
//
// The journal stays the truth, whoever writes it: each question first reads the records
// added since the last one (ids only grow, and the read starts past the last id kept),
// and confirms every record it finds from the journal, so that one finished meanwhile
// drops out. A finished record never becomes unfinished again, and a record's paths never
// change. What a still-open transaction added may yet be rolled back (and its ids given
// again), so it is used for that question only; a first read made inside a transaction
// isn't kept at all.

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "foundation/Journal.h"
#include "foundation/OffloadRecord.h"

namespace keldwick {

class DriveCopies {
public:
    explicit DriveCopies(std::shared_ptr<Journal> journal) : journal_(std::move(journal)) {}

    // The id of an unfinished record of `record`'s drive, other than `record`, whose drive
    // path equals `record`'s or lies beneath it as a folder, letter case aside (the
    // smallest such id); 0 when there is none. Throws SQLiteError when a read fails.
    int64_t heldInside(const OffloadRecord& record);

private:
    using Keyed = std::pair<std::string, int64_t>;  // a lower-cased drive path, the record's id

    // The places of one drive: a sorted vector from the first read (one sort is the
    // cheapest way to index a hundred thousand records), an ordered map for what came after.
    struct Drive {
        int64_t lastID = 0;  // every committed record up to here is known
        std::vector<Keyed> read;
        std::multimap<std::string, int64_t> added;
    };

    // The drive's places, brought up to date; `pending` gets what an open transaction added.
    // Nothing when a first read had to be made inside a transaction: `pending` has it all.
    Drive* catchUp(const std::string& driveID, std::vector<Keyed>& pending);

    std::shared_ptr<Journal> journal_;
    std::mutex lock_;
    std::map<std::string, Drive> drives_;
    std::set<int64_t> finished_;  // records seen finished, never read again
};

}  // namespace keldwick
