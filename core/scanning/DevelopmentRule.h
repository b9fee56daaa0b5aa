#pragma once
// Refuses code projects, their dependency and build folders, and hidden tool data.

#include <optional>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

#include "scanning/ScanRule.h"

namespace keldwick {

class DevelopmentRule final : public ScanRule {
public:
    // With a home folder, the home and the folders above it are never refused, and the
    // standard folders of the home are exempt from the project test for hand-picks.
    DevelopmentRule(bool chosenByHand, std::optional<std::string> home);

    // Folders only.
    std::optional<std::string> skipReason(const std::string& path, const FileStat& stat, bool isPackage) const override;
    // The nearest folder above with a reason, as an inside-note.
    std::optional<std::string> skipReasonForAncestorsOf(const std::string& path) const override;
    // A project moving whole passes its own test; other kinds don't.
    std::optional<std::string> skipReasonWhole(const std::string& folder, WholeKind kind) const override;

    // Whether a folder is a code project: not hidden, not a regenerable folder, not a
    // Python environment; and it has ".git", a project file or extension, or a
    // dependency folder.
    static bool isProject(const std::string& folder);

    // Whether the folder holds one of the project files or an entry whose extension
    // marks a project.
    static bool hasProjectMarker(const std::string& folder);

    // Folder names that tools rebuild, with the reason each gets (13 rows, in order).
    static const std::vector<std::pair<std::string, std::string>>& regenerableFolders();
    // The reason for a regenerable folder name; nothing for other names.
    static std::optional<std::string> regenerableReason(const std::string& name);

    bool chosenByHand() const { return chosenByHand_; }
    const std::optional<std::string>& home() const { return home_; }
    const std::unordered_set<std::string>& standardFolders() const { return standardFolders_; }

private:
    std::optional<std::string> developmentReason(const std::string& folder) const;

    bool chosenByHand_;
    std::optional<std::string> home_;
    std::unordered_set<std::string> standardFolders_;
};

}  // namespace keldwick
