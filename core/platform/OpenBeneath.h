#pragma once
// Opening a folder strictly beneath another through openat2(2), so that no symbolic
// link, "..", magic link or other mount on the way can lead elsewhere.

#include <string>

#include "platform/FileIO.h"

namespace keldwick::platform {

// Opens `relative` (a folder path below the folder open as `rootFd`) as an O_PATH
// descriptor into `out`. Returns 0, or the errno: ELOOP for a link on the way, EXDEV for
// another mount or a way out, ENOENT, ENOTDIR, and ENOSYS on kernels without openat2.
int openFolderBeneath(int rootFd, const std::string& relative, Fd& out);

}  // namespace keldwick::platform
