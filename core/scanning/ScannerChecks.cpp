#include "scanning/ScannerChecks.h"

#include <unordered_set>

#include "foundation/FileOps.h"
#include "foundation/FileStat.h"
#include "foundation/Formatting.h"
#include "foundation/ItemChecks.h"
#include "foundation/PathUtil.h"

namespace keldwick {

namespace {

// True when `path` lies below `folder` (not equal to it), by the "/" boundary.
bool isStrictlyInside(const std::string& path, const std::string& folder) {
    return path != folder && !folder.empty() && PathUtil::isInside(path, folder);
}

}  // namespace

std::vector<std::string> canonicalRoots(const std::vector<std::string>& roots) {
    std::vector<std::string> resolved;
    std::unordered_set<std::string> seen;
    for (const auto& root : roots) {
        auto real = PathUtil::canonical(root);
        if (!real) continue;
        if (seen.insert(*real).second) resolved.push_back(std::move(*real));
    }
    std::vector<std::string> outermost;
    for (const auto& root : resolved) {
        bool nested = false;
        for (const auto& other : resolved) {
            if (isStrictlyInside(root, other)) {
                nested = true;
                break;
            }
        }
        if (!nested) outermost.push_back(root);
    }
    return outermost;
}

std::vector<Candidate> uniqueByPath(std::vector<Candidate> candidates) {
    std::unordered_set<std::string> seen;
    std::vector<Candidate> unique;
    unique.reserve(candidates.size());
    for (auto& candidate : candidates) {
        if (seen.insert(candidate.path).second) unique.push_back(std::move(candidate));
    }
    return unique;
}

void forEachEntryInside(const std::string& path, const InsideVisitor& visit) {
    std::vector<std::string> inside;
    collectRelativePaths("", path, inside);
    for (const auto& relative : inside) {
        const std::string full = PathUtil::join(path, relative);
        auto entry = FileStat::peek(full);
        if (entry && !visit(relative, full, *entry)) return;
    }
}

std::optional<std::string> recheckItem(const std::string& path, const RuleList& rules,
                                       std::optional<WholeKind> whole) {
    if (whole) {
        for (const auto& rule : rules) {
            if (auto reason = rule->skipReasonWhole(path, *whole)) return reason;
        }
        return std::nullopt;
    }
    if (rules.empty()) return std::nullopt;
    auto status = FileStat::peek(path);
    if (!status) return std::nullopt;
    const bool package = status->isDirectory() && isPackageName(PathUtil::name(path));
    for (const auto& rule : rules) {
        if (auto reason = rule->skipReasonForAncestorsOf(path)) return reason;
        if (auto reason = rule->skipReason(path, *status, package)) return reason;
    }
    if (!status->isDirectory()) return std::nullopt;

    std::optional<std::string> found;
    forEachEntryInside(path, [&](const std::string& relative, const std::string& full, const FileStat& entry) {
        const bool entryIsPackage = entry.isDirectory() && isPackageName(PathUtil::name(full));
        for (const auto& rule : rules) {
            if (auto reason = rule->skipReason(full, entry, entryIsPackage)) {
                found = *reason + " (" + quoted(relative) + ")";
                return false;
            }
        }
        return true;
    });
    return found;
}

}  // namespace keldwick
