// The mount table's options and types, judged as a drive would be: every entry is judged
// as if mounted on a scratch drive folder, so only the table's words vary.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "FuzzFiles.h"
#include "drives/DriveTrust.h"
#include "platform/MountFacts.h"
#include "platform/MountTable.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    auto table = keldwick::platform::MountTable::parse(text);
    const keldwick::DriveTrust::User user{1000, 1000, {}};
    for (auto& entry : table) {
        const auto modes = keldwick::platform::MountFacts::modesOf(entry);
        modes.othersCanReach();
        modes.checksNothing();
        entry.mountPoint = keldwick::fuzz::scratchDrive();
        keldwick::DriveTrust::judgeMount(entry, true, user, std::nullopt);
        keldwick::DriveTrust::judgeMount(entry, false, user, std::nullopt);
    }
    return 0;
}
