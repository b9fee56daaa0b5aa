// The drive marker: a file on a drive anyone may have written.
#include <cstdlib>
#include <string_view>

#include "FuzzFiles.h"
#include "drives/DriveMarker.h"

namespace DriveMarker = keldwick::DriveMarker;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    if (auto contents = DriveMarker::decode(text)) {
        if (DriveMarker::decode(DriveMarker::encode(*contents)) != contents) std::abort();
    }
    const std::string& root = keldwick::fuzz::scratchDrive();
    keldwick::fuzz::writeAll(root + "/Keldwick/.keldwick-drive.json", data, size);
    DriveMarker::read(root);
    return 0;
}
