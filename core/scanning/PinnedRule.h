#pragma once
// Refuses items at or inside given paths, with the caller's three texts: for the item,
// for what lies inside it, and for a folder that holds one.

#include <string>
#include <vector>

#include "scanning/ScanRule.h"

namespace keldwick {

class PinnedRule final : public ScanRule {
public:
    PinnedRule(std::vector<std::string> paths, std::string reason, std::string insideReason, std::string holdsReason);

    std::optional<std::string> skipReason(const std::string& path, const FileStat& stat, bool isPackage) const override;
    std::optional<std::string> skipReasonForAncestorsOf(const std::string& path) const override;
    std::optional<std::string> skipReasonWhole(const std::string& folder, WholeKind kind) const override;

    const std::vector<std::string>& paths() const { return paths_; }
    const std::string& reason() const { return reason_; }
    const std::string& insideReason() const { return insideReason_; }
    const std::string& holdsReason() const { return holdsReason_; }

private:
    bool isCovered(const std::string& path) const;

    std::vector<std::string> paths_;
    std::string reason_;
    std::string insideReason_;
    std::string holdsReason_;
};

}  // namespace keldwick
