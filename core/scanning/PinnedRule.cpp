#include "scanning/PinnedRule.h"

#include "foundation/PathUtil.h"

namespace keldwick {

PinnedRule::PinnedRule(std::vector<std::string> paths, std::string reason, std::string insideReason,
                       std::string holdsReason)
    : paths_(std::move(paths)),
      reason_(std::move(reason)),
      insideReason_(std::move(insideReason)),
      holdsReason_(std::move(holdsReason)) {}

bool PinnedRule::isCovered(const std::string& path) const {
    for (const auto& p : paths_) {
        if (PathUtil::isInside(path, p)) return true;
    }
    return false;
}

std::optional<std::string> PinnedRule::skipReason(const std::string& path, const FileStat&, bool) const {
    if (isCovered(path)) return reason_;
    return std::nullopt;
}

std::optional<std::string> PinnedRule::skipReasonForAncestorsOf(const std::string& path) const {
    if (isCovered(PathUtil::parent(path))) return insideReason_;
    return std::nullopt;
}

std::optional<std::string> PinnedRule::skipReasonWhole(const std::string& folder, WholeKind) const {
    if (isCovered(folder)) return reason_;
    for (const auto& p : paths_) {
        if (PathUtil::isInside(p, folder)) return holdsReason_;
    }
    return std::nullopt;
}

}  // namespace keldwick
