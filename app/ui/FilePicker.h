#pragma once
// The picker for moving items by hand: files and folders chosen together in one list,
// with a "Show hidden files" switch. Desktop file dialogs pick either files or folders,
// so this is Qt's own dialog, whose accept button takes whatever is selected, folders too.
// A folder is opened, never taken, where the user asked to open it: a path typed in the
// name field that leads to a folder turns the button to "Open", and Return or the button
// then goes into that folder. Return on a folder in the list opens it as well. A folder
// selected in the list is taken, and the button keeps its own title ("Add", "Move").

#include <QFileDialog>
#include <QString>
#include <functional>
#include <optional>
#include <string>
#include <vector>

class QPushButton;

namespace keldwick {

class HiddenFilesToggle;

// The folder a name typed in the picker leads to: "~" and "~/…" start at `home`, any other
// relative name at `shown` (the folder the picker shows). None when it leads to no folder
// (`isFolder` says, following links as opening would).
std::optional<std::string> typedFolder(const std::string& typed, const std::string& shown, const std::string& home,
                                       const std::function<bool(const std::string&)>& isFolder);

class FilesOrFoldersDialog final : public QFileDialog {
    Q_OBJECT

public:
    // With `foldersOnly` the list shows folders alone, and several are taken at once.
    FilesOrFoldersDialog(QWidget* parent, const QString& title, const std::string& startFolder,
                         bool foldersOnly = false, bool hiddenFilesToggle = true);

    // What the user chose, once accepted: absolute paths in the order selected.
    const std::vector<std::string>& chosenPaths() const { return chosen_; }
    HiddenFilesToggle* hiddenFilesToggle() const { return toggle_; }
    // The folder the name field's typed text leads to, if any.
    std::optional<std::string> typedFolder() const;
    // The accept button's title for what is selected (setLabelText's Accept label, which
    // Qt's own titling would replace with "Open" for a selected folder). A typed path
    // leading to a folder still turns it to "Open".
    void setAcceptLabel(const QString& label);

public slots:
    // Opens the folder typed in the name field; otherwise takes the selected rows (folders
    // included); with none selected, the dialog's own behaviour for a typed name applies.
    void accept() override;

private:
    void retitle();
    QPushButton* acceptButton() const;

    std::vector<std::string> chosen_;
    HiddenFilesToggle* toggle_ = nullptr;
    QString acceptLabel_;
    // The name field holds what the user typed, not the names Qt fills in for a selection.
    bool typed_ = false;
};

// Runs the dialog modally (no parent: it must outlive a closing tray panel) and returns
// the chosen paths; empty when the user cancelled. Main thread only.
std::vector<std::string> chooseFilesOrFolders(const QString& title, const std::string& startFolder);

}  // namespace keldwick
