#include "model/RestoreOutcome.h"

#include <algorithm>

#include "engine/EngineConfiguration.h"

#include "foundation/Formatting.h"
#include "foundation/ItemName.h"
#include "foundation/PathUtil.h"
#include "foundation/Saturating.h"
#include "model/DisplayTexts.h"
#include "model/OtherDrives.h"
#include "model/StatusTexts.h"

namespace keldwick {

FilesProblemReport filesProblemReport(const std::vector<std::string>& messages, const std::string& title) {
    if (messages.empty()) return {};
    std::string message = messages.front();
    if (messages.size() > 1) {
        const size_t more = messages.size() - 1;
        message += " (and " + std::to_string(more) + " more problem" + (more == 1 ? "" : "s") + ")";
    }
    return FilesProblemReport{message, Notice{title, message, NoticeTarget::offloaded, "files-problem"}};
}

std::string restoredText(const std::vector<OffloadRecord>& restored, const std::vector<std::string>& failures,
                         const std::string& home) {
    std::string text;
    if (restored.size() == 1) {
        const std::string& path = restored.front().originalPath;
        text = "Brought back \u201C" + ItemName::display(path) + "\u201D to " +
               folderDisplayName(PathUtil::parent(path), home) + ".";
    } else if (restored.size() > 1) {
        int64_t bytes = 0;
        for (const auto& record : restored) bytes = Saturating::add(bytes, record.size);
        text = "Brought back " + recordCountText(restored) + " (" + byteCountText(bytes) + ") to your computer.";
    }
    if (!failures.empty()) {
        if (!text.empty()) text += " ";
        text += failures.front();
    }
    return text;
}

std::string restoredCopyText(const OffloadRecord& record, const std::string& driveName) {
    return "Brought back the copy of \u201C" + ItemName::display(record.originalPath) + "\u201D from " + driveName +
           ", next to the one on your computer.";
}

std::vector<OffloadRecord> recordsToBringBackAll(const ModelState& state) {
    std::vector<OffloadRecord> found;
    for (const auto& record : state.records)
        if (record.phase == Phase::offloaded && driveStatus(state, record).connected) found.push_back(record);
    std::sort(found.begin(), found.end(), [](const OffloadRecord& a, const OffloadRecord& b) { return a.id < b.id; });
    return found;
}

namespace {

std::string joinedNames(const std::vector<std::string>& names) {
    std::string text;
    for (size_t i = 0; i < names.size(); ++i) {
        if (i > 0) text += i + 1 == names.size() ? " and " : ", ";
        text += names[i];
    }
    return text;
}

}  // namespace

std::string driveNamesText(const ModelState& state, const std::vector<OffloadRecord>& records) {
    std::vector<std::string> names;
    for (const auto& record : records) {
        const std::string name = driveStatus(state, record).name;
        if (std::find(names.begin(), names.end(), name) == names.end()) names.push_back(name);
    }
    return joinedNames(names);
}

int64_t computerReserveBytes() { return EngineConfiguration{}.computerReserveBytes; }

std::optional<int64_t> roomForBringingBack(const ModelState& state) {
    if (!state.computerFreeBytes) return std::nullopt;
    return std::max<int64_t>(*state.computerFreeBytes - computerReserveBytes(), 0);
}

int64_t bytesThatFit(const std::vector<OffloadRecord>& records, int64_t room) {
    int64_t fits = 0;
    for (const auto& record : records) {
        if (record.size > room) continue;
        room -= record.size;
        fits = Saturating::add(fits, record.size);
    }
    return fits;
}

RestoreAllOutcome restoreAllOutcome(const ModelState& state, const RunSummary& summary) {
    std::string text = "Brought back " +
                       (summary.completed.size() == 1 ? std::string("1 item")
                                                      : std::to_string(summary.completed.size()) + " items") +
                       " (" + byteCountText(summary.bytes) + ") to your computer.";
    if (summary.failures.size() == 1) {
        text += " " + summary.failures.front().message;
    } else if (summary.failures.size() > 1) {
        text += " " + std::to_string(summary.failures.size()) +
                " couldn't come back, for example: " + summary.failures.front().message;
    }
    // Told once for all of them: each item's own refusal would say the same.
    if (summary.noRoom.size() == 1) {
        text += " \u201C" + ItemName::display(summary.noRoom.front()) +
                "\u201D stays on your drive: there isn't room for it on your computer.";
    } else if (summary.noRoom.size() > 1) {
        text += " " + std::to_string(summary.noRoom.size()) +
                " items stay on your drive: there isn't room for them on your computer.";
    }
    if (summary.cancelled) text += " Stopped early.";
    // A drive mounted but refused is named with the reason, not as missing.
    if (summary.stoppedBecause) text += " " + driveMessage(state, *summary.stoppedBecause);

    // Items of an earlier drive count as much as the chosen one's.
    std::vector<OffloadRecord> stillOnDrives;
    for (const auto& record : state.records)
        if (record.phase == Phase::offloaded) stillOnDrives.push_back(record);
    const bool everythingBack = summary.failures.empty() && summary.noRoom.empty() && !summary.cancelled &&
                                !summary.stoppedBecause && stillOnDrives.empty() &&
                                recordsNeedingAttention(state).empty();
    RestoreAllOutcome outcome;
    outcome.lastRun = text;
    if (everythingBack) {
        outcome.notice = Notice{"Everything is back on your computer", text, NoticeTarget::offloaded, std::nullopt};
    } else {
        outcome.filesProblem = text;
        const std::string drives = stillOnDrives.empty() ? driveDisplayName(state) : driveNamesText(state, stillOnDrives);
        outcome.notice = Notice{"Some files are still on " + drives, text, NoticeTarget::offloaded, std::nullopt};
    }
    return outcome;
}

}  // namespace keldwick
