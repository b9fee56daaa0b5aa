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

namespace {

std::string programFolder(const char* variable, const char* fallback, const std::string& home) {
    const char* base = std::getenv(variable);
    if (base && base[0] == '/') return PathUtil::join(base, "Keldwick");
    if (home.empty()) return home;
    return PathUtil::join(home, fallback);
}

}  // namespace

std::string dataHome(const std::string& home) {
    const char* base = std::getenv("XDG_DATA_HOME");
    if (base && base[0] == '/' && (home.empty() || !PathUtil::isInside(home, PathUtil::withoutTrailingSlashes(base)))) {
        return base;
    }
    if (home.empty()) return home;
    return PathUtil::join(home, ".local/share");
}

std::string support() { return support(home()); }
std::string config() { return config(home()); }

std::string support(const std::string& home) { return programFolder("XDG_DATA_HOME", ".local/share/Keldwick", home); }
std::string config(const std::string& home) { return programFolder("XDG_CONFIG_HOME", ".config/Keldwick", home); }

}  // namespace keldwick::UserFolders
