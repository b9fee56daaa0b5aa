// Property lists from device backups.
#include <string_view>

#include "foundation/PropertyList.h"

namespace PropertyList = keldwick::PropertyList;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const auto root = PropertyList::parseDictionary(std::string_view(reinterpret_cast<const char*>(data), size));
    for (const char* key : {"Device Name"}) PropertyList::stringValue(root, key);
    for (const char* key : {"Last Backup Date"}) PropertyList::dateValue(root, key);

    return 0;
}
