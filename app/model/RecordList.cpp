#include "model/RecordList.h"

namespace keldwick {

RecordList::RecordList(Records records)
    : records_(records.empty() ? nullptr : std::make_shared<const Records>(std::move(records))) {}

const RecordList::Records& RecordList::all() const {
    static const Records none;
    return records_ ? *records_ : none;
}

void RecordList::push_back(OffloadRecord record) {
    Records edited = all();
    edited.push_back(std::move(record));
    records_ = std::make_shared<const Records>(std::move(edited));
}

}  // namespace keldwick
