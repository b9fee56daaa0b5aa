#pragma once
// What a moved item was beyond its content, kept in the journal at the move and put back
// when it comes home: the modes and owner of the original, and a digest of the kinds,
// link targets and carried attributes (user attributes, POSIX ACLs) of its drive copy as
// verified. A drive may have been changed by anyone who held it: nothing but content the
// journal's checksums vouch for, and attributes its digest vouches for, comes home from it
// (FileCopier::recorded puts the rest back).

#include <optional>
#include <string>
#include <vector>

#include "foundation/RecordedMetadata.h"
#include "foundation/TreeManifest.h"
#include "platform/Metadata.h"

namespace keldwick::ItemMetadata {

// The entries a single file is described by: itself.
std::vector<TreeEntry> ofFile();

// Modes and owner of `original` and of its entries (a folder's walk, relative paths, the
// folder itself added as ""; links have none), the files among them that have holes, and the digest of `copy` over the same entries. Throws POSIXFailure "lstat"
// for an original entry that can't be looked at.
RecordedMetadata record(const std::string& original, const std::string& copy, const std::vector<TreeEntry>& entries);

// Lowercase hex SHA-256 over the entries sorted by path: each one's path, kind, link
// target and carried attributes as `root` holds them now (an entry missing there counts
// as a kind of its own), the item itself included.
std::string digest(const std::string& root, const std::vector<TreeEntry>& entries);
// The same with only the POSIX ACLs among the attributes (RecordedMetadata::aclDigest).
std::string aclDigest(const std::string& root, const std::vector<TreeEntry>& entries);
// Whether any of the entries as `root` holds them now carries a POSIX ACL.
bool hasACLs(const std::string& root, const std::vector<TreeEntry>& entries);

// A recorded entry of a folder that would come home in another shape than it left: of
// another kind, or a recorded link now pointing elsewhere. `was` and `now` describe it
// for the user ("a folder", "a link", "a link to “a.txt”").
struct ChangedShape {
    std::string path;
    std::string was;
    std::string now;
    bool operator==(const ChangedShape&) const = default;
};
// The first such entry of `found` (the drive copy's entries, or the copy brought back).
// Only the record's own entries are compared: entries added since are not changes of
// shape (see addedLinks).
std::optional<ChangedShape> firstChangedShape(const std::vector<TreeEntry>& found,
                                              const std::vector<TreeEntry>& recorded);
// The links among `found` that the record doesn't hold, in walk order.
std::vector<TreeEntry> addedLinks(const std::vector<TreeEntry>& found, const std::vector<TreeEntry>& recorded);

}  // namespace keldwick::ItemMetadata
