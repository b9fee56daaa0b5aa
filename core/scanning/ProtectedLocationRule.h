#pragma once
// Refuses the program's own folders (by name), the home folder's Library, the Trash, the
// media apps' libraries, the system folders, and the hidden entries at the top of the
// home (~/.config, ~/.local, ~/.mozilla, keyrings, ...), which hold the apps' settings and
// data the way Library does.

#include <string>
#include <utility>
#include <vector>

#include "scanning/ScanRule.h"

namespace keldwick {

class ProtectedLocationRule final : public ScanRule {
public:
    // Rows: the home rows in table order, then one "A system folder" row for each of
    // `systemFolders` in the given order. `chosenByHand` lets hidden items through where
    // the system-data code allows hand-picking (an app's folder in $XDG_DATA_HOME, a model
    // folder, an emulator device).
    ProtectedLocationRule(const std::string& home, const std::vector<std::string>& systemFolders, bool chosenByHand);

    std::optional<std::string> skipReason(const std::string& path, const FileStat& stat, bool isPackage) const override;
    // The protected test of the parent.
    std::optional<std::string> skipReasonForAncestorsOf(const std::string& path) const override;
    // An emulator device folder directly in the devices folder may move whole; a folder
    // that holds one of the program's own folders never moves whole.
    std::optional<std::string> skipReasonWhole(const std::string& folder, WholeKind kind) const override;

    struct Row {
        std::string path;
        std::string reason;
    };
    const std::vector<Row>& protectedRows() const { return protected_; }
    const std::string& emulatorDevices() const { return emulatorDevices_; }
    const std::string& home() const { return home_; }
    const std::string& dataHome() const { return dataHome_; }
    bool chosenByHand() const { return chosenByHand_; }

    // The reason of the first row that holds the path (or is it), or nothing. The
    // program's own folders come first; the home's hidden entries after every row, and
    // for items picked by hand only what the system data window offers there may go.
    std::optional<std::string> protectedReason(const std::string& path) const;

    static constexpr const char* kOwnRecords = "Part of Keldwick's own records";
    static constexpr const char* kHoldsOwnRecords = "Holds Keldwick's own records";
    static constexpr const char* kHiddenAppData = "Your apps' hidden settings and data";
    static constexpr const char* kHoldsKeys = "Holds keys or passwords";

private:
    std::optional<std::string> rowReason(const std::string& path) const;

    std::vector<std::string> ownFolders_;  // the support folder and the settings folder

    std::vector<Row> protected_;
    size_t firstSystemRow_ = 0;
    std::string emulatorDevices_;
    std::string home_;
    std::string dataHome_;  // $XDG_DATA_HOME as the session sets it
    bool chosenByHand_;
};

}  // namespace keldwick
