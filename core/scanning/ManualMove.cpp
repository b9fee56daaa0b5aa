#include "scanning/ManualMove.h"

#include <algorithm>
#include <limits>
#include <unordered_set>

#include "foundation/FileOps.h"
#include "foundation/FileStat.h"
#include "foundation/ItemChecks.h"
#include "foundation/PathUtil.h"
#include "foundation/Saturating.h"
#include "foundation/AndroidDevices.h"
#include "foundation/Utf8.h"
#include "platform/Extents.h"
#include "platform/FileStatus.h"
#include "scanning/DevelopmentRule.h"
#include "scanning/Scanner.h"
#include "scanning/ScannerChecks.h"
#include "scanning/WholeFolderInspector.h"

namespace keldwick::ManualMove {

namespace {

std::string resolvedOrSame(const std::string& path) { return PathUtil::canonical(path).value_or(path); }

// The folder resolved, the last component kept as written.
std::string resolveParent(std::string path) {
    if (path.empty()) return path;
    if (path[0] != '/') {
        // A relative path is relative to the working folder, as a file URL would make it.
        if (const auto cwd = platform::workingFolder()) path = PathUtil::join(*cwd, path);
    }
    const std::string name = PathUtil::name(path);
    const std::string parent = PathUtil::parent(path);
    if (name == "/" || parent.empty()) return path;
    // "." and ".." name a folder, never a link: spelled out, they would slip past the
    // kept-in-place test and become an item whose path can't be replaced.
    if (name == "." || name == "..") return resolvedOrSame(path);
    return PathUtil::join(resolvedOrSame(parent), name);
}

// The bytes the item frees on this computer: its own blocks where extents are shared,
// else its allocated size.
int64_t localSize(const std::string& path, const FileStat& stat) {
    return ExtraStat::read(path).privateSize.value_or(stat.allocatedSize);
}

bool isInsideStrictly(const std::string& path, const std::string& folder) {
    return path != folder && PathUtil::isInside(path, folder);
}

Candidate makeCandidate(const std::string& path, bool isDirectory, int64_t size, int64_t driveSize,
                        int64_t fileCount, std::optional<WholeKind> whole, Date now) {
    return Candidate(path, isDirectory, size, fileCount, now, LastUsedSource::modificationDate, 0, false, whole,
                     std::max(size, driveSize), {});
}

// Each path's folder resolved, repeats dropped, in input order.
std::vector<std::string> resolvedPaths(const std::vector<std::string>& paths) {
    std::vector<std::string> resolved;
    std::unordered_set<std::string> seen;
    for (const auto& path : paths) {
        std::string r = resolveParent(path);
        if (seen.insert(r).second) resolved.push_back(std::move(r));
    }
    return resolved;
}

// A path's outcome: a candidate or a refusal.
struct Outcome {
    std::string path;
    std::optional<Candidate> candidate;
    std::optional<std::string> reason;

    static Outcome refused(const std::string& path, std::string reason) {
        return {path, std::nullopt, std::move(reason)};
    }
    static Outcome accepted(Candidate candidate) {
        std::string path = candidate.path;
        return {std::move(path), std::move(candidate), std::nullopt};
    }
};

// Why an item that is there can't be offered at all, before its kind is looked at.
std::optional<std::string> refusalReason(const std::string& p, const FileStat& stat, const std::string& realHome,
                                         const std::unordered_set<std::string>& kept) {
    if (!PathUtil::isInside(p, realHome)) return "Only what's in your home folder can move";
    if (kept.count(p)) return "Your computer keeps this folder where it is; what's inside it can move";
    if (stat.isSymlink()) return "It's a shortcut";
    if (!stat.isFile() && !stat.isDirectory()) return "It's a special file";
    // The journal and the drive manifest record names as JSON text.
    if (!Utf8::isValid(p)) return std::string(kUnrecordableNameReason);
    return std::nullopt;
}

// A package moves as one item weighing all its files.
Candidate packageCandidate(const std::string& p, Date now) {
    int64_t logical = 0;
    // Its files' shared extents count once: copies of each other inside it free one.
    platform::FreedSpace freed;
    std::vector<std::string> inner;
    collectRelativePaths("", p, inner);
    for (const auto& relative : inner) {
        const std::string full = PathUtil::join(p, relative);
        std::optional<FileStat> s = FileStat::peek(full);
        if (!s || !s->isFile()) continue;
        if (auto extents = platform::extentMap(full.c_str()))
            freed.add(*extents);
        else
            freed.addPrivate(s->allocatedSize);
        logical = Saturating::add(logical, s->size);
    }
    return makeCandidate(p, true, freed.freed(), logical, 1, std::nullopt, now);
}

// Any other folder moves as one piece when the inspection lets it. Nothing when the
// inspection finds it used too recently, which it never does without a stop date.
std::optional<Outcome> folderOutcome(const std::string& p, bool driveIsNativeFormat, Date now) {
    WholeKind kind = AndroidDevices::isDeviceFolder(p) ? WholeKind::emulator
                     : DevelopmentRule::isProject(p)   ? WholeKind::project
                                                       : WholeKind::chosen;
    if (kind != WholeKind::chosen && !driveIsNativeFormat)
        return Outcome::refused(p, "Only moves to a drive formatted for Linux");
    WholeFolderInspector inspector;
    inspector.keepsSymlinks = kind == WholeKind::chosen ? driveIsNativeFormat : true;
    WholeFolderInspector::Result result = inspector.inspect(p);
    if (result.kind == WholeFolderInspector::Result::Kind::blocked) return Outcome::refused(p, result.reason);
    if (result.kind == WholeFolderInspector::Result::Kind::movable) {
        const auto& s = result.summary;
        return Outcome::accepted(makeCandidate(p, true, s.size, s.driveSize, s.fileCount, kind, now));
    }
    return std::nullopt;
}

std::optional<Outcome> outcomeFor(const std::string& p, const std::string& realHome,
                                  const std::unordered_set<std::string>& kept, bool driveIsNativeFormat, Date now) {
    std::optional<FileStat> stat = FileStat::peek(p);
    if (!stat) return Outcome::refused(p, "It isn't there anymore");
    if (auto reason = refusalReason(p, *stat, realHome, kept)) return Outcome::refused(p, std::move(*reason));
    if (stat->isFile())
        return Outcome::accepted(makeCandidate(p, false, localSize(p, *stat), stat->size, 1, std::nullopt, now));
    if (isPackageName(PathUtil::name(p))) return Outcome::accepted(packageCandidate(p, now));
    return folderOutcome(p, driveIsNativeFormat, now);
}

// The outcomes in order, less those inside a folder that became a candidate.
Result withoutNested(std::vector<Outcome> outcomes) {
    std::vector<std::string> folders;
    for (const auto& o : outcomes)
        if (o.candidate && o.candidate->isDirectory) folders.push_back(o.path);
    Result result;
    for (auto& o : outcomes) {
        bool nested = std::any_of(folders.begin(), folders.end(),
                                  [&](const std::string& f) { return isInsideStrictly(o.path, f); });
        if (nested) continue;
        if (o.candidate) result.candidates.push_back(std::move(*o.candidate));
        else result.refusals.push_back({o.path, std::move(*o.reason)});
    }
    return result;
}

}  // namespace

Result candidates(const std::vector<std::string>& paths, const std::string& home,
                  const std::vector<std::string>& keptInPlace, bool driveIsNativeFormat, Date now) {
    const std::string realHome = resolvedOrSame(home);
    std::unordered_set<std::string> kept;
    for (const auto& k : keptInPlace) kept.insert(resolvedOrSame(k));

    std::vector<Outcome> outcomes;
    for (const std::string& p : resolvedPaths(paths))
        if (auto outcome = outcomeFor(p, realHome, kept, driveIsNativeFormat, now)) outcomes.push_back(std::move(*outcome));
    return withoutNested(std::move(outcomes));
}

}  // namespace keldwick::ManualMove
