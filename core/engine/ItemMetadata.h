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

// The first entry of a copy brought back that would come home in another shape than it
// left: a link the record doesn't hold, or with another target, or an entry recorded as
// another kind. Nothing when every entry is as recorded or new and not a link.
std::optional<std::string> firstChangedShape(const std::vector<TreeEntry>& copied,
                                             const std::vector<TreeEntry>& recorded);

}  // namespace keldwick::ItemMetadata
