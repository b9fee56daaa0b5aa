#include "scanning/ScanRule.h"

#include <limits.h>
#include <sys/stat.h>

#include <algorithm>

#include "foundation/FileOps.h"
#include "foundation/Formatting.h"
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

namespace {
// The innermost hint of this thread; each links to the one it covers.
thread_local const FolderListingHint* innermostHint = nullptr;
}  // namespace

FolderListingHint::FolderListingHint(const std::string& folder, const std::vector<std::string>& names,
                                     const std::vector<uint32_t>& byName)
    : folder_(folder), names_(names), byName_(byName), previous_(innermostHint) {
    innermostHint = this;
}

FolderListingHint::~FolderListingHint() { innermostHint = previous_; }

const FolderListingHint* FolderListingHint::find(std::string_view folder) {
    // Only the two innermost: a walk probes the folder it is in and, for build folders,
    // the one above.
    int looked = 0;
    for (const FolderListingHint* hint = innermostHint; hint && looked < 2; hint = hint->previous_, ++looked) {
        if (hint->folder_ == folder) return hint;
    }
    return nullptr;
}

bool FolderListingHint::contains(std::string_view name) const {
    const auto at = std::lower_bound(byName_.begin(), byName_.end(), name,
                                     [&](uint32_t index, std::string_view wanted) { return names_[index] < wanted; });
    return at != byName_.end() && names_[*at] == name;
}

std::vector<uint32_t> nameOrder(const std::vector<std::string>& names) {
    std::vector<uint32_t> order(names.size());
    for (uint32_t i = 0; i < order.size(); ++i) order[i] = i;
    std::sort(order.begin(), order.end(), [&](uint32_t a, uint32_t b) { return names[a] < names[b]; });
    return order;
}

bool pathExists(const std::string& path) {
    // lstat refuses a path this long (ENAMETOOLONG) whatever the listing holds.
    if (innermostHint && path.size() < PATH_MAX) {
        const auto slash = path.rfind('/');
        if (slash != std::string::npos && slash > 0 && slash + 1 < path.size()) {
            if (const auto* hint = FolderListingHint::find(std::string_view(path).substr(0, slash))) {
                return hint->contains(std::string_view(path).substr(slash + 1));
            }
        }
    }
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0;
}

std::vector<std::string> folderNames(const std::string& folder) {
    if (const auto* hint = FolderListingHint::find(folder)) return hint->names();
    try {
        return listDirectory(folder);
    } catch (const std::exception&) {
        return {};
    }
}

std::string insideNote(const std::string& reason, const std::string& folder) {
    return reason + " (inside " + quoted(PathUtil::name(folder)) + ")";
}

}  // namespace keldwick
