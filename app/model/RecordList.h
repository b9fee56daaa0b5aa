#pragma once
// The records the model lists, held once: an immutable vector shared by the model's state,
// the refresh that read it and the files window's rows. Copying a list copies a pointer,
// so a refresh, a copy of the state or a window never copies a record; a refresh that
// read the same records keeps the list it had. Editing (tests build states record by
// record) copies the records first when the list is shared.

#include <cstddef>
#include <initializer_list>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "foundation/OffloadRecord.h"

namespace keldwick {

class RecordList {
public:
    using Records = std::vector<OffloadRecord>;
    using value_type = OffloadRecord;
    using const_iterator = Records::const_iterator;
    using iterator = const_iterator;

    RecordList() = default;
    RecordList(Records records);  // NOLINT: a vector is a list
    RecordList(std::initializer_list<OffloadRecord> records) : RecordList(Records(records)) {}

    // The records, also where a function takes a vector.
    const Records& all() const;
    // Each drive id of the records, once.
    const std::set<std::string>& driveIDs() const;
    operator const Records&() const { return all(); }  // NOLINT: read as a vector

    const_iterator begin() const { return all().begin(); }
    const_iterator end() const { return all().end(); }
    size_t size() const { return all().size(); }
    bool empty() const { return all().empty(); }
    const OffloadRecord& operator[](size_t i) const { return all()[i]; }
    const OffloadRecord& front() const { return all().front(); }
    const OffloadRecord& back() const { return all().back(); }

    void push_back(OffloadRecord record);
    void clear() { held_.reset(); }

    // Whether both are the same list (not merely equal records).
    bool sharesWith(const RecordList& other) const { return held_ == other.held_; }

    friend bool operator==(const RecordList& a, const RecordList& b) {
        return a.held_ == b.held_ || a.all() == b.all();
    }

private:
    struct Held {
        Records records;
        std::set<std::string> driveIDs;
    };
    static std::shared_ptr<const Held> hold(Records records);

    std::shared_ptr<const Held> held_;  // none: empty
};

}  // namespace keldwick
