#include "scanning/AppAndLibraryRule.h"

#include <unordered_set>

#include "foundation/ContentType.h"
#include "foundation/Utf8.h"
#include "scanning/NeverTouch.h"

namespace keldwick {

namespace {

const char* const appReason = "App or app component";
const char* const libraryReason = "App library (photos, music or video…)";

std::optional<std::string> reasonFor(const std::string& path) {
    std::string extension = Utf8::lowercased(pathExtension(path));
    if (AppAndLibraryRule::isAppExtension(extension)) return appReason;
    if (AppAndLibraryRule::isLibraryExtension(extension)) return libraryReason;
    return std::nullopt;
}

}  // namespace

bool AppAndLibraryRule::isAppExtension(const std::string& lowerExtension) {
    static const std::unordered_set<std::string> extensions = [] {
        std::unordered_set<std::string> set = {
            "app", "appex", "framework", "bundle", "plugin", "kext", "xpc", "prefpane", "qlgenerator",
            "mdimporter", "saver", "component", "dext", "systemextension", "wdgt", "vst", "vst3", "aaxplugin",
        };
        for (const auto& extra : NeverTouch::linuxAppExtensions()) set.insert(extra);
        return set;
    }();
    return extensions.count(lowerExtension) != 0;
}

bool AppAndLibraryRule::isLibraryExtension(const std::string& lowerExtension) {
    static const std::unordered_set<std::string> extensions = {
        "photoslibrary", "photolibrary", "migratedphotolibrary", "aplibrary", "musiclibrary", "tvlibrary",
        "imovielibrary", "theater",      "fcpbundle",            "lrlibrary", "lrcat",        "lrdata",
        "lrcat-data",    "cocatalog",    "cocatalogdb",          "cosessiondb",
    };
    return extensions.count(lowerExtension) != 0;
}

std::optional<std::string> AppAndLibraryRule::skipReason(const std::string& path, const FileStat&, bool) const {
    return reasonFor(path);
}

std::optional<std::string> AppAndLibraryRule::skipReasonForAncestorsOf(const std::string& path) const {
    for (const auto& ancestor : ancestors(path)) {
        if (auto reason = reasonFor(ancestor)) return insideNote(*reason, ancestor);
    }
    return std::nullopt;
}

}  // namespace keldwick
