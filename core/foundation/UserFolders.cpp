#include "foundation/UserFolders.h"

#include "foundation/PathUtil.h"
#include "platform/ProcessFacts.h"

namespace keldwick::UserFolders {

std::string home() {
    if (std::string h = platform::environmentVariable("HOME").value_or(""); h.starts_with('/')) return h;
    return platform::accountHome().value_or(std::string());
}

namespace {

std::string programFolder(const char* variable, const char* fallback, const std::string& home) {
    const std::string base = platform::environmentVariable(variable).value_or("");
    if (base.starts_with('/')) return PathUtil::join(base, "Keldwick");
    if (home.empty()) return home;
    return PathUtil::join(home, fallback);
}

}  // namespace

std::string dataHome(const std::string& home) {
    const std::string base = platform::environmentVariable("XDG_DATA_HOME").value_or("");
    if (base.starts_with('/') && (home.empty() || !PathUtil::isInside(home, PathUtil::withoutTrailingSlashes(base)))) {
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
