#pragma once
// Checks the scanner and the engine share, so that a scan refuses what a move would,
// and the package test the drive browser shares with the scanner.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "foundation/FileStat.h"
#include "foundation/OffloadRecord.h"
#include "foundation/OpenFileChecking.h"

namespace keldwick {

// True when the item is a folder that counts as one document (an app bundle, a
// document package): a folder whose extension, lower-cased, is a package type. False
// for anything else and when the item can't be read. Doesn't follow a final link.
bool isPackage(const std::string& path);
// The same test on the name of an item already known to be a folder.
bool isPackageName(std::string_view name);

// The file a database file belongs with: for "-wal", "-shm" and "-journal" in that
// order, path + suffix when that exists, else (when path ends with the suffix) the
// non-empty path without it when that exists. Nothing when none is found. Never throws.
std::optional<std::string> databaseCompanion(const std::string& path);

// Why the item can't be moved, or nothing: "Owned by another user", "Locked" (immutable
// or append-only), "App or app component" (a folder whose name's
// extension is "app", any case), "Has multiple hard links" (a regular file), checked in
// that order. `name` is the item's name or path; only its extension is used. Links and
// special files get nothing. Never throws.
std::optional<std::string> reasonNotMovable(const FileStat& status, std::string_view name);
// The same with the current user's id already known (a walk asks getuid once).
std::optional<std::string> reasonNotMovable(const FileStat& status, std::string_view name, uint32_t userID);

// Right before an item is replaced: throws EngineError::inUse with the path and the
// names of the processes holding anything at or under it (each once, sorted by bytes; a
// process without a name is named by its id). Links on the way to the item are resolved
// too, as the kernel reports open files by their real paths; the item itself is not
// followed. Returns when nothing is in use.
void checkNotInUse(const std::string& path, const OpenFileChecking& openFiles);

// What tells an item from another put at its place later, as text for the journal: its
// device, inode and birth (the change time where the file system keeps no birth). A
// freed inode number may be given to a new item, never with the old one's birth.
std::string itemIdentity(const FileStat& status);

// Whether the item at `path` is the link the engine left for `record`: a symbolic link
// whose text ends with "/" + the record's drive-relative path. The drive's mount point
// is not compared, so the link counts wherever the drive is mounted now. False for
// anything else, a missing or unreadable item, or a record without a relative path.
bool isLinkToDriveCopy(const std::string& path, const OffloadRecord& record);

}  // namespace keldwick
