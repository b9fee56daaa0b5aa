#include "foundation/UserFolders.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>

#include "foundation/PathUtil.h"

namespace keldwick::UserFolders {

std::string home() {
    if (const char* h = std::getenv("HOME"); h && h[0] == '/') return h;
    if (const passwd* entry = ::getpwuid(::getuid()); entry && entry->pw_dir) return entry->pw_dir;
    return std::string();
}

std::string support() {
    const char* data = std::getenv("XDG_DATA_HOME");
    if (data && data[0] == '/') return PathUtil::join(data, "Keldwick");
    std::string folder = home();
    if (folder.empty()) return folder;
    return PathUtil::join(folder, ".local/share/Keldwick");
}

}  // namespace keldwick::UserFolders
