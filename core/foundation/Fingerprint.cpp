#include "foundation/Fingerprint.h"

#include <vector>

#include "foundation/EngineError.h"
#include "foundation/FileOps.h"
#include "foundation/PathUtil.h"

namespace keldwick {

Fingerprint Fingerprint::of(const FileStat& status) {
    return Fingerprint{status.inode, status.size, status.modificationTime, status.changeTime};
}

bool Fingerprint::sameIgnoringChangeDate(const Fingerprint& a, const Fingerprint& b) {
    return a.inode == b.inode && a.size == b.size && a.modificationTime == b.modificationTime;
}

FingerprintSnapshot Fingerprint::snapshot(const std::string& path, bool deep) {
    std::optional<FileStat> item = FileStat::read(path);
    if (!item) throw EngineError::sourceMissing(path);

    FingerprintSnapshot result;
    result.fingerprints.emplace("", of(*item));
    if (item->isDirectory()) result.folders.insert("");
    if (!deep) return result;

    std::vector<std::string> relativePaths;
    collectRelativePaths("", path, relativePaths);
    for (const std::string& relative : relativePaths) {
        std::optional<FileStat> entry = FileStat::read(PathUtil::join(path, relative));
        if (!entry) continue;  // vanished meanwhile
        result.fingerprints.emplace(relative, of(*entry));
        if (entry->isDirectory()) result.folders.insert(relative);
    }
    return result;
}

bool fingerprintUnchanged(const std::string& path, const Fingerprint& current, const FingerprintSnapshot& snapshot,
                          Fingerprint::Comparison comparison) {
    if (snapshot.fingerprints.empty()) return false;
    auto found = snapshot.fingerprints.find(path);
    if (found == snapshot.fingerprints.end()) return false;
    if (snapshot.folders.contains(path)) return found->second.inode == current.inode;
    return comparison(current, found->second);
}

}  // namespace keldwick

size_t std::hash<keldwick::Fingerprint>::operator()(const keldwick::Fingerprint& f) const noexcept {
    size_t h = std::hash<uint64_t>{}(f.inode);
    auto mix = [&h](uint64_t v) { h ^= std::hash<uint64_t>{}(v) + 0x9e3779b97f4a7c15ULL + (h << 6) + (h >> 2); };
    mix(static_cast<uint64_t>(f.size));
    mix(static_cast<uint64_t>(f.modificationTime.seconds));
    mix(static_cast<uint64_t>(f.modificationTime.nanoseconds));
    mix(static_cast<uint64_t>(f.changeTime.seconds));
    mix(static_cast<uint64_t>(f.changeTime.nanoseconds));
    return h;
}
