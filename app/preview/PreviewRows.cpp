#include "preview/PreviewRows.h"

#include <unordered_map>

#include "foundation/Formatting.h"
#include "foundation/ItemName.h"
#include "foundation/PathUtil.h"
#include "model/DisplayTexts.h"
#include "model/PreviewModel.h"
#include "ui/RelativeDate.h"

namespace keldwick {

std::vector<PreviewRow> previewRows(const PreviewModel& preview) {
    std::vector<PreviewRow> rows;
    std::vector<Candidate> excluded = preview.excludedCandidates();
    rows.reserve((preview.plan() ? preview.plan()->items.size() : 0) + excluded.size());
    if (preview.plan()) {
        for (const Candidate& item : preview.plan()->items) rows.push_back({item, true});
    }
    for (Candidate& item : excluded) rows.push_back({std::move(item), false});
    return rows;
}

std::vector<PreviewRow> keepingOrder(std::vector<PreviewRow> fresh, const std::vector<PreviewRow>& shown) {
    std::unordered_map<std::string, size_t> freshAt;
    freshAt.reserve(fresh.size());
    for (size_t i = 0; i < fresh.size(); ++i) freshAt.emplace(fresh[i].candidate.path, i);
    // The rows still there in their shown order, then the new ones, so no row shown moves.
    std::vector<bool> placed(fresh.size(), false);
    std::vector<PreviewRow> rows;
    rows.reserve(fresh.size());
    for (const PreviewRow& row : shown) {
        auto found = freshAt.find(row.candidate.path);
        if (found == freshAt.end() || placed[found->second]) continue;
        placed[found->second] = true;
        rows.push_back(std::move(fresh[found->second]));
    }
    for (size_t i = 0; i < fresh.size(); ++i) {
        if (!placed[i]) rows.push_back(std::move(fresh[i]));
    }
    return rows;
}

PreviewRowTexts previewRowTexts(const PreviewRow& row, const std::string& home, Date now,
                                const std::string& locale) {
    const std::string& path = row.candidate.path;
    const std::string name = ItemName::display(path);
    return {"Move " + name, name, folderDisplayName(PathUtil::parent(path), home), byteCountText(row.candidate.size),
            relativeDateText(row.candidate.lastUsed, now, locale)};
}

std::optional<std::string> skippedSummary(const ScanReport& report) {
    if (report.skippedCount < 1) return std::nullopt;
    std::string text = report.skippedCount == 1 ? "1 item was left alone"
                                                : std::to_string(report.skippedCount) + " items were left alone";
    if (static_cast<int64_t>(report.skipped.size()) < report.skippedCount) {
        text += " (the first " + std::to_string(report.skipped.size()) + " are listed)";
    }
    return text;
}

SkippedTexts skippedTexts(const SkippedItem& item, const std::string& home) {
    return {ItemName::display(item.path), folderDisplayName(PathUtil::parent(item.path), home), item.reason};
}

}  // namespace keldwick
