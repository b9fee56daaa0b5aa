#include "model/RecordList.h"

namespace keldwick {

std::shared_ptr<const RecordList::Held> RecordList::hold(Records records) {
    if (records.empty()) return nullptr;
    auto held = std::make_shared<Held>();
    const std::string* last = nullptr;
    for (const auto& record : records) {
        // Records of one drive mostly follow each other: the set is searched only on a change.
        if (last && *last == record.driveID) continue;
        last = &*held->driveIDs.insert(record.driveID).first;
    }
    held->records = std::move(records);
    return held;
}

RecordList::RecordList(Records records) : held_(hold(std::move(records))) {}

const RecordList::Records& RecordList::all() const {
    static const Records none;
    return held_ ? held_->records : none;
}

const std::set<std::string>& RecordList::driveIDs() const {
    static const std::set<std::string> none;
    return held_ ? held_->driveIDs : none;
}

void RecordList::push_back(OffloadRecord record) {
    Records edited = all();
    edited.push_back(std::move(record));
    held_ = hold(std::move(edited));
}

}  // namespace keldwick
