#pragma once
// Refuses the home folder's Library, the Trash, the media apps' libraries and the
// system folders.

#include <string>
#include <utility>
#include <vector>

#include "scanning/ScanRule.h"

namespace keldwick {

class ProtectedLocationRule final : public ScanRule {
public:
    // Rows: the home rows in table order, then one "A system folder" row for each of
    // `systemFolders` in the given order. `chosenByHand` lets items of Library through
    // where the system-data code allows hand-picking.
    ProtectedLocationRule(const std::string& home, const std::vector<std::string>& systemFolders, bool chosenByHand);

    std::optional<std::string> skipReason(const std::string& path, const FileStat& stat, bool isPackage) const override;
    // The protected test of the parent.
    std::optional<std::string> skipReasonForAncestorsOf(const std::string& path) const override;
    // A simulator device folder directly in the devices folder may move whole.
    std::optional<std::string> skipReasonWhole(const std::string& folder, WholeKind kind) const override;

    struct Row {
        std::string path;
        std::string reason;
    };
    const std::vector<Row>& protectedRows() const { return protected_; }
    const std::string& simulatorDevices() const { return simulatorDevices_; }
    const std::string& home() const { return home_; }
    const std::string& library() const { return library_; }
    bool chosenByHand() const { return chosenByHand_; }

    // The reason of the first row that holds the path (or is it), or nothing.
    std::optional<std::string> protectedReason(const std::string& path) const;

private:

    std::vector<Row> protected_;
    size_t firstSystemRow_ = 0;
    std::string simulatorDevices_;
    std::string home_;
    std::string library_;
    bool chosenByHand_;
};

}  // namespace keldwick
