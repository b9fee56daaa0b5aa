#pragma once
// The texts and notices that bringing items back and deleting drive copies leave behind.
// The model runs the engine, then writes what these give: lastRun (with lastRunDate =
// now), filesProblem, and the notice, posted only while notices are on.

#include <optional>
#include <string>
#include <vector>

#include "engine/RunSummary.h"
#include "foundation/OffloadRecord.h"
#include "model/ModelState.h"
#include "model/Notice.h"

namespace keldwick {

// Problems with moved files, for the files window and a notice.
struct FilesProblemReport {
    std::optional<std::string> filesProblem;  // none: the problem is cleared
    std::optional<Notice> notice;
    bool operator==(const FilesProblemReport&) const = default;
};

// No message clears the problem and posts nothing. Otherwise the first message, with
// " (and 2 more problems)" (" (and 1 more problem)" for two), is the problem and the body
// of a "files-problem" notice with the given title.
FilesProblemReport filesProblemReport(const std::vector<std::string>& messages, const std::string& title);

// The line after bringing items back: "Brought back “Taxes” to Documents." for one,
// "Brought back 2 files (3.00 MB) to your computer." for several, "" for none; then the first
// failure's message (after a space when the line is not empty).
std::string restoredText(const std::vector<OffloadRecord>& restored, const std::vector<std::string>& failures,
                         const std::string& home);

// "Brought back the copy of “Taxes” from Archive, next to the one on your computer."
std::string restoredCopyText(const OffloadRecord& record, const std::string& driveName);

// Bring Everything Back covers every "offloaded" record whose drive is plugged in: the
// chosen one (mounted, taken or refused) and any earlier one. By record id, the order the
// engine takes them in.
std::vector<OffloadRecord> recordsToBringBackAll(const ModelState& state);

// The names of the records' drives, each once, in the records' order: "Vault",
// "Vault and Archive", "Vault, Archive and Old".
std::string driveNamesText(const ModelState& state, const std::vector<OffloadRecord>& records);

// What this computer keeps free when items come back: the engine's reserve.
int64_t computerReserveBytes();
// The room items may take on this computer: its free space beyond the reserve, as the
// engine counts it (never below 0); none while the free space is unknown.
std::optional<int64_t> roomForBringingBack(const ModelState& state);
// The bytes of `records` that come back into `room` when they are taken in order and each
// one that doesn't fit in what is left is skipped, as the engine does.
int64_t bytesThatFit(const std::vector<OffloadRecord>& records, int64_t room);

struct RestoreAllOutcome {
    std::string lastRun;
    std::optional<std::string> filesProblem;  // none when everything is back
    Notice notice;
    bool operator==(const RestoreAllOutcome&) const = default;
};

// After bringing everything back, with `state` holding the records as refreshed after the
// run: "Brought back 1 item (2.00 KB) to your computer." and the failures, what stayed for
// lack of room (" 3 items stay on your drive: there isn't room for them on your
// computer."), " Stopped early." and the engine's reason. Everything is back when nothing
// failed, stayed or stopped and no record is on any drive or needs attention; otherwise
// the text stays as the files problem and the notice names the drives still holding items.
RestoreAllOutcome restoreAllOutcome(const ModelState& state, const RunSummary& summary);

// Titles of the restore operations' problem reports.
inline constexpr const char* kRestoreProblemTitle = "Couldn't bring back everything";
inline constexpr const char* kRestoreCopyProblemTitle = "Couldn't bring back the copy";
inline constexpr const char* kRestoreAllProblemTitle = "Couldn't bring files back";
inline constexpr const char* kDeleteProblemTitle = "Couldn't delete everything";
inline constexpr const char* kDeleteFailedTitle = "Couldn't delete it";

}  // namespace keldwick
