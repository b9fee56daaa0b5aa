#pragma once
// Where the system's files lie on its drive: one app folder at the top of the drive
// ("Keldwick", or "Marrowfen" on drives prepared under the older name) holding the marker,
// the read-me, the drive manifest and one folder per machine in which moved items keep
// their original absolute paths.

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace keldwick {

namespace DriveLayout {

// The current app folder name, "Keldwick".
std::string folderName();

// The app folder's name on the drive at `root`: "Keldwick" when anything of that name
// exists there (any kind, even a plain file); else "Marrowfen" when that folder holds a
// marker of either name; else "Keldwick". Probed afresh on every call; never fails.
std::string folderName(const std::string& root);

// root joined with folderName(root).
std::string appFolder(const std::string& root);

// Whether the drive at `root` holds records of this computer: its manifest lists an item
// this computer moved (an entry of `machineID`, or of no machine), or this computer's
// folder there holds anything. Read as everything on a drive is (no links followed, the
// manifest size-capped); what can't be read holds nothing. Never throws.
bool holdsRecords(const std::string& root, const std::string& machineID, const std::string& machineFolder);

// folder + "/" + machine + original, e.g. "Keldwick/Studio (1A2B3C4D)/Users/ann/big.iso".
// Plain concatenation; `original` is an absolute path and begins with "/".
std::string relativePath(const std::string& original, const std::string& machine, const std::string& folder);

}  // namespace DriveLayout

// A free drive-relative path beside `wanted`: the name gets " 2", " 3", … " 9999" before
// its extension (folders and names with only a leading dot have none; "archive.tar.gz"
// gives "archive.tar 2.gz"). A candidate is skipped when `isTaken` answers yes for its
// form lower-cased with Utf8::lowercased, or when anything exists at it under `root`.
// After 9999 the stem gets " " + a new UUID, unchecked.
std::string uniqueRelativePath(const std::string& wanted, bool isFolder,
                               const std::function<bool(const std::string& lowercased)>& isTaken,
                               const std::string& root);

}  // namespace keldwick
