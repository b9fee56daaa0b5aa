#include "foundation/UserFolders.h"

#include "foundation/PathUtil.h"
#include "platform/ProcessFacts.h"

namespace keldwick::UserFolders {

std::optional<std::string> absoluteVariable(const char* name) {
    std::optional<std::string> value = platform::environmentVariable(name);
    if (value && value->starts_with('/')) return value;
    return std::nullopt;
}

std::string home() {
    if (std::optional<std::string> h = absoluteVariable("HOME")) return *h;
    return platform::accountHome().value_or(std::string());
}

namespace {

std::string programFolder(const char* variable, const char* fallback, const std::string& home) {
    if (std::optional<std::string> base = absoluteVariable(variable)) return PathUtil::join(*base, "Keldwick");
    if (home.empty()) return home;
    return PathUtil::join(home, fallback);
}

}  // namespace

std::string dataHome(const std::string& home) {
    const std::optional<std::string> base = absoluteVariable("XDG_DATA_HOME");
    if (base && (home.empty() || !PathUtil::isInside(home, PathUtil::withoutTrailingSlashes(*base)))) return *base;
    if (home.empty()) return home;
    return PathUtil::join(home, ".local/share");
}

std::string support() { return support(home()); }
std::string config() { return config(home()); }

std::string support(const std::string& home) { return programFolder("XDG_DATA_HOME", ".local/share/Keldwick", home); }
std::string config(const std::string& home) { return programFolder("XDG_CONFIG_HOME", ".config/Keldwick", home); }

}  // namespace keldwick::UserFolders
