#pragma once
// The rows of the preview's table and the texts of their cells: first each item the plan
// would move, in plan order, then each item the user excluded, in scan order; later plans
// of the same preview keep the rows where they were shown. A row is known by its path. Plain functions; main thread only where they read the preview.

#include <optional>
#include <string>
#include <vector>

#include "foundation/Date.h"
#include "scanning/Candidate.h"
#include "scanning/Scanner.h"

namespace keldwick {

class PreviewModel;

struct PreviewRow {
    Candidate candidate;
    bool included = false;  // planned; false for an excluded item
    bool operator==(const PreviewRow&) const = default;
};

std::vector<PreviewRow> previewRows(const PreviewModel& preview);

// The rows of a new plan of the same preview, in the order the table shows them: a row
// shown before keeps its place (unticking or re-ticking it moves nothing), rows gone close
// up, and rows not shown before come after them all, in `fresh`'s order.
std::vector<PreviewRow> keepingOrder(std::vector<PreviewRow> fresh, const std::vector<PreviewRow>& shown);

struct PreviewRowTexts {
    std::string toggleLabel;  // for accessibility: "Move <name>"
    std::string name;
    std::string where;     // the folder holding the item, as the windows name folders
    std::string size;      // the bytes freed on this computer, not those used on the drive
    std::string lastUsed;  // relative to `now`
    bool operator==(const PreviewRowTexts&) const = default;
};

// `locale` is an ICU locale id; empty means the process's default.
PreviewRowTexts previewRowTexts(const PreviewRow& row, const std::string& home, Date now,
                                const std::string& locale = "");

// A line about what the scan left alone: "1 item was left alone" / "<n> items were left
// alone"; none when it left nothing alone. A report that lists fewer than it counted
// says how many it lists.
std::optional<std::string> skippedSummary(const ScanReport& report);

// A skipped item's texts: its name, the folder holding it, and why it was left alone.
struct SkippedTexts {
    std::string name;
    std::string where;
    std::string reason;
    bool operator==(const SkippedTexts&) const = default;
};
SkippedTexts skippedTexts(const SkippedItem& item, const std::string& home);

}  // namespace keldwick
