#pragma once
// Copying an item's metadata onto its copy: extended attributes (POSIX ACLs included),
// owner, mode, exact times, and the immutable and append-only attributes. Items are
// given as open descriptors where they can be opened; symbolic links, which can't, by
// path (nothing is followed).

#include <sys/stat.h>

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace keldwick::platform {

// An item on either side: an open descriptor (regular file or folder), or, for a
// symbolic link, its path.
struct MetadataTarget {
    int fd = -1;
    std::string path;  // used when fd < 0; also the name in error messages

    bool isLink() const { return fd < 0; }
};

// Names of the item's extended attributes; an empty list when it has none or they
// can't be listed.
std::vector<std::string> xattrNames(const MetadataTarget& item);
// The attribute's value, or nothing when it is absent or unreadable.
std::optional<std::string> xattrValue(const MetadataTarget& item, const std::string& name);
// The attribute's size without reading it; nothing when absent.
std::optional<size_t> xattrSize(const MetadataTarget& item, const std::string& name);

// Whether an attribute travels with an item and is vouched for by the journal's record
// of it: user attributes and POSIX ACLs, never security.* or trusted.*.
bool isCarriedAttribute(const std::string& name);
// The item's carried attributes by name. Items are named by path here, links included:
// a file whose own mode refuses reading still has its attributes read.
std::vector<std::pair<std::string, std::string>> carriedAttributes(const std::string& path);
// Which of the carried attributes: the user's own (user.*, which grant nothing) and the
// POSIX ACLs (which grant access).
enum class Carried { all, user, acls };
bool isCarried(const std::string& name, Carried which);
// copyXattrs limited to the carried attributes of the kind asked for. Gives the names
// `from` listed, for the check of the ones that matter.
std::vector<std::string> copyCarriedXattrs(const MetadataTarget& from, const MetadataTarget& to,
                                           Carried which = Carried::all);

// Copies every extended attribute of `from` that `to` accepts, the POSIX ACLs
// ("system.posix_acl_access", "system.posix_acl_default") included. Attributes the
// destination refuses (a file system without them, a namespace this process may not
// write) are left out: the caller checks the ones that matter. Gives the names `from`
// listed (one flistxattr where it has none), for that check.
std::vector<std::string> copyXattrs(const MetadataTarget& from, const MetadataTarget& to);

// Owner and group where this process may set them (refusals ignored). Call it before
// copyXattrs: a change of owner drops file capabilities.
void copyOwner(const struct statx& source, const MetadataTarget& to);

// The permission bits, set-id and sticky bits included (links have none of their own).
// Throws POSIXFailure "chmod", except for the EPERM of a file system whose modes come
// from its mount (see keepsModesNatively), which keeps what it can.
void copyMode(const struct statx& source, const MetadataTarget& to);

// Access and modification times, to the nanosecond. Throws POSIXFailure "utimens".
void copyTimes(const struct statx& source, const MetadataTarget& to);

// Sets the immutable and append-only attributes the source has. Needs privilege; a
// refusal is ignored, as it is for a file system without them.
void copyLockAttributes(const struct statx& source, const MetadataTarget& to);

}  // namespace keldwick::platform
