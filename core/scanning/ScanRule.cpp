#include "scanning/ScanRule.h"

#include <sys/stat.h>

#include "foundation/PathUtil.h"

namespace keldwick {

std::optional<std::string> ScanRule::skipReasonForAncestorsOf(const std::string&) const { return std::nullopt; }

std::optional<std::string> ScanRule::skipReasonWhole(const std::string& folder, WholeKind) const {
    auto stat = FileStat::peek(folder);
    if (!stat) return std::nullopt;
    if (auto reason = skipReasonForAncestorsOf(folder)) return reason;
    return skipReason(folder, *stat, false);
}

bool ScanRule::keepsTogether(const std::string&) const { return false; }

std::vector<std::string> ancestors(const std::string& path) {
    std::vector<std::string> result;
    std::string current = PathUtil::parent(path);
    while (!current.empty() && current != "/") {
        result.push_back(current);
        std::string next = PathUtil::parent(current);
        if (next == current) break;
        current = std::move(next);
    }
    return result;
}

bool pathExists(const std::string& path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0;
}

std::string insideNote(const std::string& reason, const std::string& folder) {
    return reason + " (inside “" + PathUtil::name(folder) + "”)";
}

}  // namespace keldwick
