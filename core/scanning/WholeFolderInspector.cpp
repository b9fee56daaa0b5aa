#include "scanning/WholeFolderInspector.h"

#include <unistd.h>

#include <algorithm>
#include <limits>
#include <map>
#include <utility>
#include <vector>

#include "foundation/FileOps.h"
#include "foundation/FileStat.h"
#include "foundation/Formatting.h"
#include "foundation/PathUtil.h"
#include "foundation/Saturating.h"
#include "foundation/Utf8.h"
#include "platform/Extents.h"
#include "scanning/DevelopmentRule.h"

namespace keldwick {

namespace {

// Invalid bytes shown as U+FFFD, so a reason about such a name is itself valid text.
std::string displayable(std::string_view text) {
    std::string out;
    size_t i = 0;
    while (i < text.size()) {
        size_t length = 1;
        auto byte = static_cast<unsigned char>(text[i]);
        if (byte >= 0xC2 && byte <= 0xDF) length = 2;
        else if (byte >= 0xE0 && byte <= 0xEF) length = 3;
        else if (byte >= 0xF0 && byte <= 0xF4) length = 4;
        else if (byte >= 0x80) length = 0;
        if (length > 0 && i + length <= text.size() && Utf8::isValid(text.substr(i, length))) {
            out.append(text.substr(i, length));
            i += length;
        } else {
            out += "\xEF\xBF\xBD";
            ++i;
        }
    }
    return out;
}

std::string quoted(const std::string& reason, const std::string& relative) {
    return reason + " (" + keldwick::quoted(displayable(relative)) + ")";
}

bool isWalkedLast(const std::string& name) {
    return name == ".git" || DevelopmentRule::regenerableReason(name).has_value();
}

struct HardLink {
    uint32_t linkCount = 0;
    uint32_t sightings = 0;
};

struct Walk {
    const WholeFolderInspector& inspector;
    const std::string& root;
    std::optional<uint64_t> device;
    uint32_t user;
    WholeFolderInspector::Summary summary;
    std::map<std::pair<uint64_t, uint64_t>, HardLink> hardLinks;  // keyed by (device, inode)
    std::optional<WholeFolderInspector::Result> stop;
    bool sharesExtents = false;  // the required device's volume (asked once)
    platform::FreedSpace mapped;  // the files whose extents were mapped, added to the size at the end

    void offer(Date date, LastUsedSource source) {
        if (date > summary.lastUsed) {
            summary.lastUsed = date;
            summary.source = source;
        }
    }

    bool isTooRecent() const {
        return inspector.stopIfUsedAfter && summary.lastUsed > *inspector.stopIfUsedAfter;
    }

    // False once the walk must stop (stop then holds the answer).
    bool walk(const std::string& relative) {
        std::string folder = relative.empty() ? root : PathUtil::join(root, relative);
        std::vector<std::string> names;
        try {
            names = listDirectory(folder);
        } catch (const std::exception&) {
            names.clear();  // counts as empty
        }
        std::vector<std::string> subfolders;
        for (const auto& name : names) {
            std::string rel = relative.empty() ? name : relative + "/" + name;
            std::string full = PathUtil::join(root, rel);
            auto stat = FileStat::peek(full);
            if (!stat) continue;  // vanished or unreadable: passed over
            if (auto reason = refusal(*stat, name, rel, full)) {
                stop = WholeFolderInspector::Result::blocked(*reason);
                return false;
            }
            if (stat->isDirectory()) {
                subfolders.push_back(name);
                continue;
            }
            if (stat->isSymlink()) {
                summary.fileCount = Saturating::add(summary.fileCount, 1);
                offer(stat->modificationDate(), LastUsedSource::modificationDate);
            } else {
                count(*stat, full);
            }
            if (isTooRecent()) {
                stop = WholeFolderInspector::Result::usedRecently();
                return false;
            }
        }
        std::stable_partition(subfolders.begin(), subfolders.end(),
                              [](const std::string& name) { return !isWalkedLast(name); });
        for (const auto& name : subfolders) {
            if (!walk(relative.empty() ? name : relative + "/" + name)) return false;
        }
        return true;
    }

    std::optional<std::string> refusal(const FileStat& stat, const std::string& name, const std::string& rel,
                                       const std::string& full) const {
        if (stat.ownerID != user) return quoted("Owned by another user", rel);
        if (stat.isLocked()) return quoted("Locked", rel);
        if (device && stat.device != *device) return quoted("On another disk", rel);
        if (stat.kind == FileStat::Kind::other) return quoted("A special file", rel);
        // The tree manifest and the journal record names as text.
        if (!Utf8::isValid(name)) return quoted("Name has characters that can't be recorded", rel);
        if (stat.isSymlink()) {
            auto target = readLink(full);
            if (!target) return quoted("Unreadable shortcut", rel);
            if (!inspector.keepsSymlinks) return quoted("A shortcut, which this drive's format can't hold", rel);
            if (auto reason = WholeFolderInspector::linkReason(*target, rel)) return quoted(*reason, rel);
            return std::nullopt;
        }
        return std::nullopt;
    }

    void count(const FileStat& stat, const std::string& full) {
        // Every counted file is on the required device, so the volume's answer holds for all.
        ExtraStat extra = device ? ExtraStat::fromStatus(full, stat, false) : ExtraStat::read(full);
        // Shared extents count by the whole folder's files together: copies of each other free one.
        const auto extents = device && sharesExtents ? platform::extentMap(full.c_str()) : std::nullopt;
        // Names of one file are one file here and on the drive, where they stay links.
        bool firstName = true;
        if (stat.linkCount >= 2) {
            HardLink& link = hardLinks[{stat.device, stat.inode}];
            link.linkCount = stat.linkCount;
            firstName = ++link.sightings == 1;
        }
        if (firstName) {
            if (extents)
                mapped.add(*extents);
            else
                summary.size = Saturating::add(summary.size, extra.privateSize.value_or(stat.allocatedSize));
            summary.driveSize = Saturating::add(summary.driveSize, stat.size);
        }
        summary.fileCount = Saturating::add(summary.fileCount, 1);
        offer(stat.modificationDate(), LastUsedSource::modificationDate);
        offer(stat.creationDate(), LastUsedSource::creationDate);
        if (extra.added) offer(*extra.added, LastUsedSource::addedDate);
        auto used = inspector.lastUsedDates.find(full);
        if (used != inspector.lastUsedDates.end()) offer(used->second, LastUsedSource::recentlyUsed);
    }
};

}  // namespace

std::optional<std::string> WholeFolderInspector::linkReason(const std::string& target, const std::string& relative) {
    if (target.starts_with("/")) {
        // Where drives mount: /Volumes, and on Linux /media, /mnt and /run/media.
        for (const char* prefix : {"/Volumes/", "/media/", "/mnt/", "/run/media/"}) {
            if (target.starts_with(prefix)) return "A shortcut to another drive";
        }
        return std::nullopt;
    }
    std::vector<std::string_view> stack;
    std::string_view rel = relative;
    // The link's own folder inside the moved folder: rel without its last component.
    size_t start = 0;
    while (true) {
        size_t slash = rel.find('/', start);
        if (slash == std::string_view::npos) break;
        if (slash > start) stack.push_back(rel.substr(start, slash - start));
        start = slash + 1;
    }
    std::string_view text = target;
    start = 0;
    while (start <= text.size()) {
        size_t slash = text.find('/', start);
        std::string_view component =
            text.substr(start, slash == std::string_view::npos ? std::string_view::npos : slash - start);
        if (!component.empty() && component != ".") {
            if (component == "..") {
                if (stack.empty()) return "A shortcut to something outside it";
                stack.pop_back();
            } else {
                stack.push_back(component);
            }
        }
        if (slash == std::string_view::npos) break;
        start = slash + 1;
    }
    return std::nullopt;
}

WholeFolderInspector::Result WholeFolderInspector::inspect(const std::string& folder) const {
    std::optional<uint64_t> requiredDevice = device;
    if (!requiredDevice) {
        if (auto own = FileStat::peek(folder)) requiredDevice = own->device;
    }
    Walk walk{*this, folder, requiredDevice, static_cast<uint32_t>(::getuid()), {}, {}, {}, false, {}};
    if (requiredDevice) walk.sharesExtents = platform::volumeSharesExtents(folder.c_str());
    if (alsoUsed) walk.offer(*alsoUsed, LastUsedSource::modificationDate);
    if (auto added = ExtraStat::read(folder).added) walk.offer(*added, LastUsedSource::addedDate);
    if (walk.isTooRecent()) return Result::usedRecently();

    if (!walk.walk("")) return *walk.stop;
    for (const auto& [key, link] : walk.hardLinks) {
        if (link.sightings < link.linkCount) return Result::blocked("Shares files with another folder (hard links)");
    }
    walk.summary.size = Saturating::add(walk.summary.size, walk.mapped.freed());
    walk.summary.keptElsewhere = walk.mapped.keptElsewhere();
    return Result::movable(walk.summary);
}

}  // namespace keldwick
