#pragma once
// Resetting an item's POSIX access-control lists without following a symbolic link.

namespace keldwick::platform {

// Removes the access ACL (and, for a folder, the default ACL) of the item at `name`
// inside the open folder `dirfd` (AT_FDCWD: a path from the working folder). Links are
// never followed. Best effort: failures are ignored, since the owner's rights come from
// the mode bits and a following unlink or rmdir reports what still stands in the way.
void resetAcl(int dirfd, const char* name, bool isFolder);

}  // namespace keldwick::platform
