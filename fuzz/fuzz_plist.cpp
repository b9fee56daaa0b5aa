// Property lists from simulator device folders and device backups.
#include <sys/stat.h>

#include <string_view>

#include "FuzzFiles.h"
#include "foundation/PropertyList.h"
#include "foundation/Simulators.h"

namespace PropertyList = keldwick::PropertyList;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const auto root = PropertyList::parseDictionary(std::string_view(reinterpret_cast<const char*>(data), size));
    for (const char* key : {"name", "runtime", "Device Name"}) PropertyList::stringValue(root, key);
    for (const char* key : {"lastBootedAt", "Last Backup Date"}) PropertyList::dateValue(root, key);

    static const std::string folder = [] {
        const std::string device = keldwick::fuzz::scratchFolder() + "/device";
        ::mkdir(device.c_str(), 0700);
        return device;
    }();
    keldwick::fuzz::writeAll(folder + "/device.plist", data, size);
    keldwick::SimulatorDevice::read(folder);
    return 0;
}
