// The drive's manifest: written by any machine that had the drive, or by hand.
#include <cstdlib>
#include <string_view>

#include "FuzzFiles.h"
#include "drives/DriveLayout.h"
#include "foundation/DriveManifest.h"

using keldwick::DriveManifest;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    if (auto entry = DriveManifest::decode(text)) {
        // Whatever is read can be written again and reads back the same.
        if (DriveManifest::decode(DriveManifest::encode(*entry)) != entry) std::abort();
    }
    const std::string& root = keldwick::fuzz::scratchDrive();
    keldwick::fuzz::writeAll(root + "/Keldwick/.keldwick-manifest.jsonl", data, size);
    DriveManifest manifest(keldwick::DriveLayout::appFolder(root));
    for (const auto& entry : manifest.latestEntries("mac-1")) {
        if (entry.event != DriveManifest::Entry::Event::offloaded) std::abort();
    }
    return 0;
}
