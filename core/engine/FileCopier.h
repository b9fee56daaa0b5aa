#pragma once
// The engine's byte work: copies one file or one folder tree to another volume while
// computing SHA-256 from the same buffers it writes, lists trees as TreeEntry values,
// copies the metadata a user would miss, and checks a copy against its entries.
//
// Every failure is thrown: POSIXFailure (operations "open", "create", "read", "write",
// "mkdir", "symlink", "link", "lstat", "opendir", "readdir", "readlink", "fsync", "syncfs",
// "chmod", "utimens") or EngineError. The copier never deletes what it created: a
// partial copy left by a failure is the caller's to remove.
//
// Durability: a copy is flushed before it is returned, and verify() and the hashes of
// what lies on a drive read from the medium, not from the page cache. A file: fsync after
// its data and metadata. A tree: every file and folder written, then one syncfs of its
// volume (through the tree's top folder, opened before anything was written in it), so
// the whole tree costs one wait; where the file system's fsync can't be trusted, fsync
// of each file after its data and metadata and of each folder after its entries and
// metadata, and syncfs as well. The copy's own name in the folder it was made in is the
// caller's to flush.

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "foundation/FileStat.h"
#include "foundation/RecordedMetadata.h"
#include "foundation/TreeManifest.h"
#include "platform/Types.h"

namespace keldwick {

class FileCopier {
public:
    // Called with the bytes of the item copied so far; may throw (cancellation, a fault
    // point) to stop the copy between two chunks.
    using Progress = std::function<void(int64_t bytesDone)>;

    enum class SpecialFiles { refuse, skip };
    // How holdsOnlyPartsOf compares files: by content, or (for a dry run, which must not
    // read whole drive copies) by size only.
    enum class Compare { contents, sizes };

    explicit FileCopier(int64_t chunkSize = 4'194'304) : chunkSize(chunkSize) {}

    // The files of a tree that are names of one file (hard links), by relative path: each
    // one's group, a number from 1 that the group's names share. Only groups of two paths
    // or more.
    using LinkGroups = std::map<std::string, int64_t>;
    struct HardLinks {
        LinkGroups groups;
        // Files that also have names outside the tree.
        std::set<std::string> reachingOutside;
    };

    // Size of every read buffer.
    int64_t chunkSize;
    // Set when the source can't be trusted for anything but the content its digests
    // vouch for (a drive refused for its owner or modes): copies then take their times
    // and a mode capped by this mask with no set-ID or sticky bit, and no owner, extended
    // attribute, ACL or lock attribute.
    std::optional<mode_t> untrustedUmask;
    // With untrustedUmask: what the journal recorded of the item copied back. Each entry
    // it holds gets its recorded mode (set-ID bits only where they were) instead of the
    // capped one, the item itself its recorded owner where this process may give it, and
    // with `recordedACLs` (the record's digests vouched for them) the source's POSIX ACLs.
    std::optional<RecordedMetadata> recorded;
    bool recordedACLs = false;
    // With untrustedUmask: every entry takes the source's user attributes (tags, comments,
    // where a download came from), which grant nothing; tags and comments it can't take
    // fail the copy as they do a move.
    bool userAttributes = false;
    // Entries of a folder copy (relative paths) that copyTree leaves where they are: links
    // the caller judged must not come along.
    std::set<std::string> leaveOut;
    // Files of a folder copy expected to hold the same content as another of its files, by
    // relative path, with the digest expected (the journal's). Each is hashed from the
    // source first; where that digest is the one of a file this copy already holds, the
    // file is cloned from that copy (sharing its blocks) instead of written again, where
    // the destination's file system can. Otherwise it is copied as any other.
    std::map<std::string, std::string> cloneCandidates;
    // With cloneCandidates: the bytes such files may take when they are written in full
    // after all (a content other than expected, a copy that can't be cloned). Past it the
    // copy stops with EngineError::notEnoughSpaceOnComputer(bytes they would take, this
    // allowance), before the volume fills. Nothing: no limit.
    std::optional<int64_t> cloneAllowance;

    // Copies the regular file `source` (a final link is not followed) to `destination`,
    // which must not exist (created exclusively, never through a link), with the
    // source's metadata. Returns the lowercase hex SHA-256 of the bytes copied. Flushes
    // the copy; with fullSync also its whole file system where fsync can't be trusted
    // there (the folders just made for it). The copy's cached pages are dropped, so a following
    // verify reads the medium. A source that changes while it is read gives
    // EngineError::sourceChanged; one that is not a regular file, unsupportedItem.
    std::string copyFile(const std::string& source, const std::string& destination, bool fullSync,
                         const Progress& progress) const;

    // Copies the folder `source` to `destination` (which must not exist) and returns its
    // entries in walk order with each file's digest and copied size. Files that are one
    // file in the source are copied and hashed once, their further names linked to that
    // copy. From an untrusted source (untrustedUmask) the journal's `recorded` link groups
    // decide instead: a file is linked to its group's first copy only where the source has
    // them as one file or their contents match, else copied on its own. `linked`, when
    // given, receives the groups the copy has. Folders get their
    // metadata after their content, deepest first, so their dates stay the originals'.
    // Flushed as the file comment says. Throws EngineError:
    // unsupportedItem (the source is not a folder; a special file, a name that is not
    // UTF-8, or an entry that changed kind), sourceChanged (an entry vanished, a link
    // was re-pointed, a file changed while read), notEligible (a mount inside the tree).
    std::vector<TreeEntry> copyTree(const std::string& source, const std::string& destination,
                                    const Progress& progress, LinkGroups* linked = nullptr) const;

    // Every entry below the folder, depth first, names sorted by bytes, a folder before
    // its content; files with their size, folders and links with 0, links with their
    // whole target; no digests. Entries that vanish while it runs are left out; every
    // other failure is thrown (a folder that can't be read is never taken as empty).
    // Special files are refused (EngineError::unsupportedItem naming the item) or left
    // out; names that are not UTF-8 are refused (unsupportedItem); another file system
    // mounted inside the tree is refused with notEligible(folder, "“rel”: On another
    // disk") and never entered.
    std::vector<TreeEntry> walk(const std::string& folder, SpecialFiles specialFiles = SpecialFiles::refuse) const;
    // The same, with the tree's hard links.
    std::vector<TreeEntry> walk(const std::string& folder, SpecialFiles specialFiles, HardLinks& links) const;

    // walk() with special files left out, less the excluded relative paths, each file
    // with the SHA-256 of its content as the medium holds it (read once for the names of
    // one file).
    std::vector<TreeEntry> hashedEntries(const std::string& folder, const std::set<std::string>& excluding) const;
    // The same over entries the caller already has from walk(folder, SpecialFiles::skip),
    // so that looking at a tree before hashing it doesn't walk it twice.
    std::vector<TreeEntry> hashedEntries(const std::string& folder, std::vector<TreeEntry> walked,
                                         const std::set<std::string>& excluding) const;

    // Whether the existing `driveItem` holds nothing but parts of `original`, so that it
    // may be cleared and copied again in place: two files of equal size and digest, or a
    // drive folder each of whose entries (sidecars aside) the original has with the same
    // kind, link target, size and digest. A drive item that does not lie strictly
    // beneath driveRoot (through "..", or a link on the way) never qualifies. Any error
    // gives false.
    bool holdsOnlyPartsOf(const std::string& original, const std::string& driveItem, const std::string& driveRoot,
                          Compare compare = Compare::contents) const;

    // Checks the copy at `root` against `entries` (an entry with an empty path is the
    // root itself, as for a single file). A missing item, another kind, another link
    // target, size or digest throws EngineError::checksumMismatch with the item's full
    // path; other failures are POSIXFailure. File contents are read from the medium, once
    // for the names of one file.
    void verify(const std::string& root, const std::vector<TreeEntry>& entries) const;

    // Copies extended attributes (POSIX ACLs among them), owner where permitted, mode
    // and, with a stat, the access and modification times from the stat; immutable and
    // append-only attributes last. Nothing is followed. When the source has tags
    // ("user.xdg.tags") or a comment ("user.xdg.comment") that the destination did not
    // take, throws EngineError::metadataNotCopied naming the source.
    void copyMetadata(const std::string& source, const std::string& destination,
                      const std::optional<FileStat>& stat) const;

    // The "._name" files among the entries that sit beside a "name" entry, when the
    // drive's file system does not keep metadata natively; otherwise none.
    std::set<std::string> sidecarPaths(const std::vector<TreeEntry>& entries, const std::string& driveRoot) const;
    // The same "._name" files whatever the volume.
    static std::set<std::string> sidecarsAmong(const std::vector<TreeEntry>& entries);

    bool operator==(const FileCopier&) const = default;
};

}  // namespace keldwick
