#pragma once
// What the engine reports while it works on an operation's items.

#include <cstdint>
#include <string>

namespace keldwick {

struct EngineProgress {
    std::string itemName;        // display name of the item being worked on
    int64_t itemIndex = 0;       // zero-based position in the operation
    int64_t itemCount = 1;       // items in the operation
    int64_t itemBytesDone = 0;   // bytes of this item copied so far
    int64_t itemBytesTotal = 0;  // the item's size

    bool operator==(const EngineProgress&) const = default;
};

}  // namespace keldwick
