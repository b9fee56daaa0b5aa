#include "engine/DriveExposure.h"

#include "foundation/Log.h"

namespace keldwick::DriveExposure {

namespace {

std::string markName(const std::string& driveID) { return "drive-exposed:" + driveID; }

}  // namespace

void note(Journal& journal, const std::string& driveID, const std::string& why) noexcept {
    try {
        if (journal.mark(markName(driveID))) return;
        journal.setMark(markName(driveID), JournalMark{journal.clock()->now(), why});
    } catch (const std::exception& error) {
        Log::error("engine", std::string("Couldn't record that others could change a drive: ") + error.what());
    }
}

std::optional<std::string> known(Journal& journal, const std::string& driveID) {
    auto mark = journal.mark(markName(driveID));
    if (!mark) return std::nullopt;
    return mark->value;
}

}  // namespace keldwick::DriveExposure
