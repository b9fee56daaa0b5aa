#pragma once
// Refuses items whose earlier copy is still on the drive. Compares ignoring case.

#include <string>
#include <vector>

#include "scanning/ScanRule.h"

namespace keldwick {

class OlderCopyRule final : public ScanRule {
public:
    explicit OlderCopyRule(std::vector<std::string> paths);

    std::optional<std::string> skipReason(const std::string& path, const FileStat& stat, bool isPackage) const override;
    std::optional<std::string> skipReasonForAncestorsOf(const std::string& path) const override;
    // The item's own reason, then the ancestors', then "Holds …" when one of the paths
    // lies inside the folder.
    std::optional<std::string> skipReasonWhole(const std::string& folder, WholeKind kind) const override;
    // True when one of the paths lies at or inside the folder.
    bool keepsTogether(const std::string& path) const override;

    const std::vector<std::string>& paths() const { return paths_; }

private:
    bool isCovered(const std::string& path) const;

    std::vector<std::string> paths_;
    std::vector<std::string> lowered_;  // paths_, lower-cased once
};

}  // namespace keldwick
