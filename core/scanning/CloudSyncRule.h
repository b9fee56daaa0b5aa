#pragma once
// Refuses folders that a sync service keeps, found by the marker it leaves.

#include "scanning/ScanRule.h"

namespace keldwick {

class CloudSyncRule final : public ScanRule {
public:
    // Folders only.
    std::optional<std::string> skipReason(const std::string& path, const FileStat& stat, bool isPackage) const override;
    // The nearest synced folder above; its reason is given unchanged (no inside-note).
    std::optional<std::string> skipReasonForAncestorsOf(const std::string& path) const override;

private:
    std::optional<std::string> syncReason(const std::string& folder) const;
};

}  // namespace keldwick
