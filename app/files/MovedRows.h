#pragma once
// What the "Moved from This Computer" tab shows and offers, as plain functions of the model's
// state: the listed records, each record's status and problem, the bars' texts, the row
// menu, and the confirmations' texts. Main thread only where the callbacks are.

#include <cstdint>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "foundation/OffloadRecord.h"
#include "model/ModelState.h"

namespace keldwick {

// The drive of a record (name, plugged in) and whether anything stands at a path now.
using DriveStatusOf = std::function<DriveStatus(const OffloadRecord&)>;
using ExistsAt = std::function<bool(const std::string& path)>;

// The records matching `search` (in the original path, or else in the item's display name,
// ignoring case; the text is not trimmed), those not "offloaded" first, order kept.
std::vector<OffloadRecord> listedRecords(const std::vector<OffloadRecord>& records, const std::string& search);
// The same, as positions in `records`: what the table keeps instead of copies.
std::vector<size_t> listedRows(const std::vector<OffloadRecord>& records, const std::string& search);

enum class Tint { green, orange, secondary };

// The Status column's label for a record.
struct StatusLabel {
    std::string symbol;
    Tint tint = Tint::secondary;
    std::string title;
    std::string help;
    bool operator==(const StatusLabel&) const = default;
};
// `refusal`: why the drive's volume is refused while it is mounted (the label says so
// and the help gives the reason, never that the drive isn't plugged in).
StatusLabel statusLabel(Phase phase, const std::string& driveName, bool driveConnected,
                        const std::optional<std::string>& refusal = std::nullopt);

struct Problem {
    std::string symbol;
    std::string text;
    bool operator==(const Problem&) const = default;
};
// Why a record needs explaining; none for an "offloaded" one.
std::optional<Problem> problemOf(const OffloadRecord& record, const std::string& driveName);

// The record the problem bar explains: exactly one of `records` is selected and it has
// a problem.
std::optional<OffloadRecord> problemRecord(const std::vector<OffloadRecord>& records,
                                           const std::set<int64_t>& selection);

// The bottom bar's status: a restore's progress, the last problem, or a line of text.
struct BottomStatus {
    enum class Kind { progress, problem, text };
    Kind kind = Kind::text;
    std::string text;
    int64_t done = 0;
    int64_t total = 1;
    bool operator==(const BottomStatus&) const = default;
};
BottomStatus bottomStatus(const ModelState& state);
std::string summaryText(const ModelState& state);

// The banner over the list while the chosen drive is away with items on it.
std::optional<std::string> driveAwayBanner(const ModelState& state);

// What the list shows over an empty table.
struct MovedEmptyState {
    std::string symbol;
    std::string title;
    std::string description;
    bool offersFreeUpSpace = false;
    bool isSearch = false;
    bool operator==(const MovedEmptyState&) const = default;
};
std::optional<MovedEmptyState> movedEmptyState(const ModelState& state, size_t listed, const std::string& search);

// The row menu's entries for the chosen records (in the model's order).
enum class MovedAction { open, restore, keepOnComputer, restoreCopy, showInFileManager, showOnDrive, deleteCopy, divider };
struct MenuEntry {
    MovedAction action = MovedAction::divider;
    std::string title;
    bool enabled = true;
    bool operator==(const MenuEntry&) const = default;
};
std::vector<MenuEntry> movedRowMenu(const std::vector<OffloadRecord>& chosen, const ModelState& state,
                                    const DriveStatusOf& driveStatus, const ExistsAt& exists);

bool isRestorable(const OffloadRecord& record, const DriveStatusOf& driveStatus);
bool offersCopy(const OffloadRecord& record, const ExistsAt& exists);
// The records of `records` whose ids are in `ids`, in the model's order.
std::vector<OffloadRecord> recordsWithIds(const std::vector<OffloadRecord>& records, const std::set<int64_t>& ids);

// What opening the chosen records opens: the links of the "offloaded" ones, only while
// the drive is mounted.
std::vector<std::string> pathsToOpen(const std::vector<OffloadRecord>& chosen, const ModelState& state);
// What "Show in Folder" selects: each item's link, or its folder when the link is gone.
std::vector<std::string> pathsToReveal(const std::vector<OffloadRecord>& chosen, const ExistsAt& exists);

// The problem bar's buttons for its record.
struct ProblemButtons {
    std::optional<MovedAction> first;  // restoreCopy or restore
    std::string firstTitle;
    bool offersDelete = false;
    std::string deleteTitle;
    bool enabled = false;
    bool operator==(const ProblemButtons&) const = default;
};
ProblemButtons problemButtons(const OffloadRecord& record, const ModelState& state, const ExistsAt& exists);

// The bottom bar's buttons.
struct BottomButtons {
    bool moveFilesEnabled = false;
    std::string selectionTitle;
    bool selectionEnabled = false;
    bool restoreAllEnabled = false;
    bool operator==(const BottomButtons&) const = default;
};
BottomButtons bottomButtons(const ModelState& state, const std::set<int64_t>& selection,
                            const DriveStatusOf& driveStatus);

struct Confirmation {
    std::string title;
    std::string message;
    std::string button;
    bool operator==(const Confirmation&) const = default;
};
// Bring Everything Back's question over what it covers (recordsToBringBackAll), naming
// their drives and what fits in the room the engine counts.
Confirmation restoreAllConfirmation(const ModelState& state);
Confirmation deleteConfirmation(const OffloadRecord& record, const ModelState& state);

}  // namespace keldwick
