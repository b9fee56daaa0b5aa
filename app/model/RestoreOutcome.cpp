#include "model/RestoreOutcome.h"

#include "foundation/Formatting.h"
#include "foundation/ItemName.h"
#include "foundation/PathUtil.h"
#include "foundation/Saturating.h"
#include "model/DisplayTexts.h"
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
    if (summary.cancelled) text += " Stopped early.";
    // A drive mounted but refused is named with the reason, not as missing.
    if (summary.stoppedBecause) text += " " + driveMessage(state, *summary.stoppedBecause);

    const bool everythingBack = summary.failures.empty() && !summary.cancelled && !summary.stoppedBecause &&
                                offloadedRecords(state).empty() && recordsNeedingAttention(state).empty();
    RestoreAllOutcome outcome;
    outcome.lastRun = text;
    if (everythingBack) {
        outcome.notice = Notice{"Everything is back on your computer", text, NoticeTarget::offloaded, std::nullopt};
    } else {
        outcome.filesProblem = text;
        outcome.notice =
            Notice{"Some files are still on " + driveDisplayName(state), text, NoticeTarget::offloaded, std::nullopt};
    }
    return outcome;
}

}  // namespace keldwick
