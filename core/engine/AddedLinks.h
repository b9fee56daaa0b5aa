#pragma once
// Links the user saved into a moved folder through its link (a virtual environment, a
// package install, a pull that brings a tracked link) and whether they may come home.
// A link grants whoever can change what it names a way into the home: one comes back only
// when it leads to a place inside the item, or to an existing place no other user can
// change. Anything else stays on the drive.

#include <optional>
#include <string>
#include <unordered_map>

#include "foundation/TreeManifest.h"
#include "platform/Types.h"

namespace keldwick::AddedLinks {

// Whether the relative link at `linkPath` (a path inside the item) resolves, through the
// item's own entries, without leaving the item. Links met on the way are followed within
// the item; an absolute one, or a ".." above the item, leaves it.
bool staysInside(const std::unordered_map<std::string, TreeEntry>& entries, const std::string& linkPath,
                 const std::string& target);

// Why a place at home is no place for a link to lead to, or nothing when it exists and
// every folder on the way to it, and it, belong to root or `user` and are closed to
// writing by others (a folder anyone may write counts even with the sticky bit; a group
// of root's counts as root). Links on the way are followed as the system would.
enum class Refusal { folderOthersCanChange, fileOthersCanChange, missing };
std::optional<Refusal> judgePlace(const std::string& absolutePath, uid_t user);

// `path` with "." and ".." taken away by name, empty components dropped; absolute paths only.
std::string lexicallyNormal(const std::string& absolutePath);

}  // namespace keldwick::AddedLinks
