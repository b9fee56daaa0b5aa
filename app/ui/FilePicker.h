#pragma once
// The picker for moving items by hand: files and folders chosen together in one list,
// with a "Show hidden files" switch. Desktop file dialogs pick either files or folders,
// so this is Qt's own dialog, whose Open button takes whatever is selected, folders too.

#include <QFileDialog>
#include <string>
#include <vector>

namespace keldwick {

class HiddenFilesToggle;

class FilesOrFoldersDialog final : public QFileDialog {
    Q_OBJECT

public:
    FilesOrFoldersDialog(QWidget* parent, const QString& title, const std::string& startFolder);

    // What the user chose, once accepted: absolute paths in the order selected.
    const std::vector<std::string>& chosenPaths() const { return chosen_; }
    HiddenFilesToggle* hiddenFilesToggle() const { return toggle_; }

public slots:
    // Takes the selected rows (folders included); with none selected, the dialog's own
    // behaviour (a typed name, or entering a folder) applies.
    void accept() override;

private:
    std::vector<std::string> chosen_;
    HiddenFilesToggle* toggle_;
};

// Runs the dialog modally (no parent: it must outlive a closing tray panel) and returns
// the chosen paths; empty when the user cancelled. Main thread only.
std::vector<std::string> chooseFilesOrFolders(const QString& title, const std::string& startFolder);

}  // namespace keldwick
