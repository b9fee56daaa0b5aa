#include "scanning/ManualMove.h"

#include <unistd.h>

#include <algorithm>
#include <limits>
#include <unordered_set>

#include "foundation/FileOps.h"
#include "foundation/FileStat.h"
#include "foundation/ItemChecks.h"
#include "foundation/PathUtil.h"
#include "foundation/Saturating.h"
#include "foundation/Simulators.h"
#include "foundation/Utf8.h"
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
        char* cwd = ::getcwd(nullptr, 0);
        if (cwd) {
            path = PathUtil::join(cwd, path);
            free(cwd);
        }
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

}  // namespace

Result candidates(const std::vector<std::string>& paths, const std::string& home,
                  const std::vector<std::string>& keptInPlace, bool driveIsMacFormatted, Date now) {
    std::vector<std::string> resolved;
    std::unordered_set<std::string> seen;
    for (const auto& path : paths) {
        std::string r = resolveParent(path);
        if (seen.insert(r).second) resolved.push_back(std::move(r));
    }
    const std::string realHome = resolvedOrSame(home);
    std::unordered_set<std::string> kept;
    for (const auto& k : keptInPlace) kept.insert(resolvedOrSame(k));

    // Each path's outcome in input order: a candidate or a refusal.
    struct Outcome {
        std::string path;
        std::optional<Candidate> candidate;
        std::optional<std::string> reason;
    };
    std::vector<Outcome> outcomes;
    auto refuse = [&](const std::string& p, std::string reason) { outcomes.push_back({p, std::nullopt, std::move(reason)}); };
    auto accept = [&](Candidate c) {
        std::string p = c.path;
        outcomes.push_back({std::move(p), std::move(c), std::nullopt});
    };

    for (const std::string& p : resolved) {
        std::optional<FileStat> stat = FileStat::peek(p);
        if (!stat) {
            refuse(p, "It isn't there anymore");
            continue;
        }
        if (!PathUtil::isInside(p, realHome)) {
            refuse(p, "Only what's in your home folder can move");
            continue;
        }
        if (kept.count(p)) {
            refuse(p, "Your Mac keeps this folder where it is; what's inside it can move");
            continue;
        }
        if (stat->isSymlink()) {
            refuse(p, "It's a shortcut");
            continue;
        }
        if (!stat->isFile() && !stat->isDirectory()) {
            refuse(p, "It's a special file");
            continue;
        }
        // The journal and the drive manifest record names as JSON text.
        if (!Utf8::isValid(p)) {
            refuse(p, kUnrecordableNameReason);
            continue;
        }
        if (stat->isFile()) {
            accept(makeCandidate(p, false, localSize(p, *stat), stat->size, 1, std::nullopt, now));
            continue;
        }
        if (isPackageName(PathUtil::name(p))) {
            int64_t size = 0, logical = 0;
            std::vector<std::string> inner;
            collectRelativePaths("", p, inner);
            for (const auto& relative : inner) {
                const std::string full = PathUtil::join(p, relative);
                std::optional<FileStat> s = FileStat::peek(full);
                if (!s || !s->isFile()) continue;
                size = Saturating::add(size, localSize(full, *s));
                logical = Saturating::add(logical, s->size);
            }
            accept(makeCandidate(p, true, size, logical, 1, std::nullopt, now));
            continue;
        }
        WholeKind kind = Simulators::isDeviceFolder(p)      ? WholeKind::simulator
                         : DevelopmentRule::isProject(p) ? WholeKind::project
                                                         : WholeKind::chosen;
        if (kind != WholeKind::chosen && !driveIsMacFormatted) {
            refuse(p, "Only moves to a drive formatted for the Mac");
            continue;
        }
        WholeFolderInspector inspector;
        inspector.keepsSymlinks = kind == WholeKind::chosen ? driveIsMacFormatted : true;
        WholeFolderInspector::Result result = inspector.inspect(p);
        if (result.kind == WholeFolderInspector::Result::Kind::blocked) {
            refuse(p, result.reason);
        } else if (result.kind == WholeFolderInspector::Result::Kind::movable) {
            const auto& s = result.summary;
            accept(makeCandidate(p, true, s.size, s.driveSize, s.fileCount, kind, now));
        }
        // Without a stop date the inspection never finds the folder used too recently.
    }

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

}  // namespace keldwick::ManualMove
