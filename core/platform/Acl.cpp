#include "platform/Acl.h"

#include <fcntl.h>
#include <sys/xattr.h>

#include <string>

#include "platform/FileIO.h"

namespace keldwick::platform {

void resetAcl(int dirfd, const char* name, bool isFolder) {
    // The xattr calls take paths only; reach the entry through the folder's descriptor
    // so that a renamed parent can't redirect the call.
    std::string path = dirfd == AT_FDCWD ? std::string(name) : "/proc/self/fd/" + std::to_string(dirfd) + "/" + name;
    calls().lremovexattr(path.c_str(), "system.posix_acl_access");
    if (isFolder) calls().lremovexattr(path.c_str(), "system.posix_acl_default");
}

}  // namespace keldwick::platform
