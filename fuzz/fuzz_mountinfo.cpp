// The kernel's mount table, as a hostile or odd mount (a FUSE file system names its own
// source and mount point) can shape it.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "platform/MountTable.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    auto table = keldwick::platform::MountTable::parse(text);
    keldwick::platform::MountTable::rootEntry(table);
    for (const auto& entry : table) entry.isReadOnly();
    keldwick::platform::MountTable::unescape(text);
    return 0;
}
