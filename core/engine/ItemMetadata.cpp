#include "engine/ItemMetadata.h"

#include <algorithm>
#include <cerrno>
#include <map>
#include <set>

#include "foundation/Checksum.h"
#include "foundation/FileOps.h"
#include "foundation/PathUtil.h"
#include "platform/FileIO.h"
#include "platform/Metadata.h"
#include "platform/POSIXFailure.h"
#include "platform/Statx.h"

namespace keldwick::ItemMetadata {

namespace {

std::string at(const std::string& root, const std::string& relative) {
    return relative.empty() ? root : PathUtil::join(root, relative);
}

// Each field length-prefixed, so that no two different entries hash alike.
void add(Checksum::Hasher& hasher, const std::string& field) {
    const std::string length = std::to_string(field.size()) + ":";
    hasher.update(length);
    hasher.update(field);
}

const TreeEntry& folderItself() {
    static const TreeEntry itself{"", TreeEntry::Kind::directory, 0, {}, {}};
    return itself;
}

// The entries with the item itself first: a folder's walk leaves its top out.
std::vector<const TreeEntry*> withItself(const std::vector<TreeEntry>& entries) {
    std::vector<const TreeEntry*> all;
    const bool listed = std::any_of(entries.begin(), entries.end(), [](const auto& entry) { return entry.path.empty(); });
    if (!listed) all.push_back(&folderItself());
    for (const auto& entry : entries) all.push_back(&entry);
    return all;
}

}  // namespace

std::vector<TreeEntry> ofFile() { return {TreeEntry{"", TreeEntry::Kind::file, 0, {}, {}}}; }

RecordedMetadata record(const std::string& original, const std::string& copy, const std::vector<TreeEntry>& entries) {
    RecordedMetadata recorded;
    for (const auto* entry : withItself(entries)) {
        if (entry->kind == TreeEntry::Kind::symlink) continue;
        const std::string path = at(original, entry->path);
        struct statx status {};
        if (platform::statxNoFollow(AT_FDCWD, path.c_str(), status) != 0) throw POSIXFailure("lstat", path, errno);
        const uint32_t mode = status.stx_mode & 07777;
        recorded.entryModes[entry->path] = mode;
        // Fewer blocks than its size: the file has holes.
        const auto allocated = static_cast<int64_t>(status.stx_blocks) * 512;
        if (S_ISREG(status.stx_mode) && allocated < static_cast<int64_t>(status.stx_size))
            recorded.sparseEntries[entry->path] = allocated;
        if (entry->path.empty()) {
            recorded.mode = mode;
            recorded.uid = status.stx_uid;
            recorded.gid = status.stx_gid;
        }
    }
    recorded.digest = digest(copy, entries);
    recorded.aclDigest = aclDigest(copy, entries);
    return recorded;
}

namespace {

std::string digestOf(const std::string& root, const std::vector<TreeEntry>& entries, platform::Carried which) {
    std::vector<const TreeEntry*> sorted = withItself(entries);
    std::sort(sorted.begin(), sorted.end(), [](const auto* a, const auto* b) { return a->path < b->path; });
    Checksum::Hasher hasher;
    for (const auto* entry : sorted) {
        const std::string path = at(root, entry->path);
        add(hasher, entry->path);
        struct statx status {};
        if (platform::statxNoFollow(AT_FDCWD, path.c_str(), status) != 0) {
            add(hasher, "missing");
            continue;
        }
        if (S_ISLNK(status.stx_mode)) {
            add(hasher, "symlink");
            add(hasher, readLink(path).value_or(""));
        } else {
            add(hasher, S_ISDIR(status.stx_mode) ? "directory" : S_ISREG(status.stx_mode) ? "file" : "other");
        }
        for (const auto& [name, value] : platform::carriedAttributes(path)) {
            if (!platform::isCarried(name, which)) continue;
            add(hasher, name);
            add(hasher, value);
        }
    }
    return hasher.finishHex();
}

}  // namespace

std::string digest(const std::string& root, const std::vector<TreeEntry>& entries) {
    return digestOf(root, entries, platform::Carried::all);
}

std::string aclDigest(const std::string& root, const std::vector<TreeEntry>& entries) {
    return digestOf(root, entries, platform::Carried::acls);
}

bool hasACLs(const std::string& root, const std::vector<TreeEntry>& entries) {
    for (const auto* entry : withItself(entries)) {
        if (entry->kind == TreeEntry::Kind::symlink) continue;
        for (const auto& [name, value] : platform::carriedAttributes(at(root, entry->path)))
            if (platform::isCarried(name, platform::Carried::acls)) return true;
    }
    return false;
}

namespace {

std::string shapeOf(const TreeEntry& entry) {
    switch (entry.kind) {
        case TreeEntry::Kind::file:
            return "a file";
        case TreeEntry::Kind::directory:
            return "a folder";
        case TreeEntry::Kind::symlink:
            break;
    }
    return entry.target ? "a link to \u201C" + *entry.target + "\u201D" : "a link";
}

}  // namespace

std::optional<ChangedShape> firstChangedShape(const std::vector<TreeEntry>& found,
                                              const std::vector<TreeEntry>& recorded) {
    std::map<std::string, const TreeEntry*> byPath;
    for (const auto& entry : recorded) byPath[entry.path] = &entry;
    for (const auto& entry : found) {
        auto match = byPath.find(entry.path);
        if (match == byPath.end()) continue;
        const TreeEntry& was = *match->second;
        if (was.kind != entry.kind) {
            // Of another kind: the targets would only clutter the sentence.
            TreeEntry before = was, after = entry;
            before.target.reset();
            after.target.reset();
            return ChangedShape{entry.path, shapeOf(before), shapeOf(after)};
        }
        if (entry.kind == TreeEntry::Kind::symlink && was.target && was.target != entry.target)
            return ChangedShape{entry.path, shapeOf(was), shapeOf(entry)};
    }
    return std::nullopt;
}

std::vector<TreeEntry> addedLinks(const std::vector<TreeEntry>& found, const std::vector<TreeEntry>& recorded) {
    std::set<std::string> paths;
    for (const auto& entry : recorded) paths.insert(entry.path);
    std::vector<TreeEntry> added;
    for (const auto& entry : found)
        if (entry.kind == TreeEntry::Kind::symlink && !paths.count(entry.path)) added.push_back(entry);
    return added;
}

}  // namespace keldwick::ItemMetadata
