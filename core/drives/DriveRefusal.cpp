#include "drives/DriveRefusal.h"

namespace keldwick {

std::string DriveRefusal::explanation() const {
    switch (kind) {
        case Kind::notADisk: return "it isn't a disk drive (" + detail + ")";
        case Kind::anotherOwner: return "its " + detail + " belongs to another user";
        case Kind::othersCanChange: return "other users can change its " + detail;
        case Kind::duplicate: return "another volume, at " + detail + ", holds the same marker";
    }
    return {};
}

}  // namespace keldwick
