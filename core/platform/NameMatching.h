#pragma once
// Whether a folder's listing can answer "is there an entry named N?" as a lookup would:
// only where lookups compare names byte for byte. Case-insensitive folders (casefold
// folders of ext4, f2fs and tmpfs; FAT, exFAT and NTFS; SMB shares) find "Makefile"
// when the listing says "makefile", and network and FUSE file systems decide lookups
// elsewhere, so there a listing can't stand in for them.

namespace keldwick::platform {

enum class NameMatching {
    exact,      // every folder compares names byte for byte (btrfs; xfs unless formatted case-insensitive)
    perFolder,  // byte for byte unless the folder is marked case-insensitive (ext4, f2fs, tmpfs, overlay, bcachefs)
    unknown,    // anything else, or the volume can't be read
};

// How lookups match names on the volume holding `path`.
NameMatching volumeNameMatching(const char* path);

// Whether lookups in the open folder `fd`, on a volume that matches names as `volume`
// says, compare names byte for byte. False for unknown volumes and when a per-folder
// volume's attribute can't be read.
bool folderMatchesNamesExactly(int fd, NameMatching volume);

}  // namespace keldwick::platform
