// The settings file: edited by hand, or left damaged by a full disk.
#include <cstdlib>

#include "FuzzFiles.h"
#include "foundation/Log.h"
#include "scanning/SettingsStore.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string path = keldwick::fuzz::scratchFolder() + "/settings.json";
    keldwick::fuzz::writeAll(path, data, size);
    keldwick::SettingsStore store{path};
    const keldwick::AppSettings loaded = store.load();
    // What was loaded saves and loads back the same.
    try {
        store.save(loaded);
    } catch (const std::runtime_error&) {
        return 0;  // a name that can't be recorded
    }
    if (store.load() != loaded) std::abort();
    return 0;
}
