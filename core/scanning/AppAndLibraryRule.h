#pragma once
// Refuses apps, their components and the libraries of media apps, by extension.

#include "scanning/ScanRule.h"

namespace keldwick {

class AppAndLibraryRule final : public ScanRule {
public:
    // Files and folders alike.
    std::optional<std::string> skipReason(const std::string& path, const FileStat& stat, bool isPackage) const override;
    // The nearest app or library above, as an inside-note.
    std::optional<std::string> skipReasonForAncestorsOf(const std::string& path) const override;

    // Lower-case extensions of apps and app components; Linux additions follow the
    // shared table.
    static bool isAppExtension(const std::string& lowerExtension);
    static bool isLibraryExtension(const std::string& lowerExtension);
};

}  // namespace keldwick
