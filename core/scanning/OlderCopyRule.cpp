#include "scanning/OlderCopyRule.h"

#include "foundation/PathUtil.h"
#include "foundation/Utf8.h"

namespace keldwick {

OlderCopyRule::OlderCopyRule(std::vector<std::string> paths) : paths_(std::move(paths)) {
    lowered_.reserve(paths_.size());
    for (const auto& p : paths_) lowered_.push_back(Utf8::lowercased(p));
}

bool OlderCopyRule::isCovered(const std::string& path) const {
    if (lowered_.empty()) return false;  // spares every item of a scan the lower-casing
    std::string lowered = Utf8::lowercased(path);
    for (const auto& p : lowered_) {
        if (PathUtil::isInside(lowered, p)) return true;
    }
    return false;
}

std::optional<std::string> OlderCopyRule::skipReason(const std::string& path, const FileStat&, bool) const {
    if (isCovered(path)) return "An older copy is still on your drive";
    return std::nullopt;
}

std::optional<std::string> OlderCopyRule::skipReasonForAncestorsOf(const std::string& path) const {
    if (isCovered(PathUtil::parent(path))) return "Inside a folder whose older copy is still on your drive";
    return std::nullopt;
}

bool OlderCopyRule::keepsTogether(const std::string& path) const {
    if (lowered_.empty()) return false;
    std::string lowered = Utf8::lowercased(path);
    for (const auto& p : lowered_) {
        if (PathUtil::isInside(p, lowered)) return true;
    }
    return false;
}

std::optional<std::string> OlderCopyRule::skipReasonWhole(const std::string& folder, WholeKind) const {
    if (auto stat = FileStat::peek(folder)) {
        if (auto reason = skipReason(folder, *stat, false)) return reason;
    }
    if (auto reason = skipReasonForAncestorsOf(folder)) return reason;
    if (keepsTogether(folder)) return "Holds an item whose older copy is still on your drive";
    return std::nullopt;
}

}  // namespace keldwick
