#pragma once
// The "Folders" tab: where the program looks for old files, what the user keeps on this
// computer, and what it never moves. Folders and pins are added with the open panel and
// removed one by one; the lists follow the model whoever changes them.

#include <QWidget>
#include <optional>
#include <string>
#include <vector>

#include "settings/SettingsForm.h"
#include "settings/SettingsScreens.h"

class QLabel;
class QPushButton;
class QVBoxLayout;

namespace keldwick {

class SettingsHost;

class FoldersTab final : public QWidget {
    Q_OBJECT

public:
    explicit FoldersTab(SettingsHost& host, QWidget* parent = nullptr);

    void render();
    QSize sizeHint() const override;

    // "Add Folder…": the folders chosen, by their real paths, each added once.
    void addFolders();
    // "Add Files or Folders…": the items chosen are kept on this computer.
    void addPins();
    void removeFolder(const std::string& path);
    // A failed removal is shown under the list, which shows what the journal still holds.
    void removePin(const std::string& path);

    QPushButton* addFolderButton() const { return addFolder_; }
    QPushButton* addPinButton() const { return addPin_; }
    QLabel* pinProblemLabel() const { return pinProblem_; }

private:
    void rebuildRows(const FoldersScreen& screen);
    std::optional<std::vector<std::string>> pickInHome(bool files, const char* button, const char* message);

    SettingsHost& host_;
    FormSection folders_;
    FormSection pins_;
    QVBoxLayout* folderRows_;
    QVBoxLayout* pinRows_;
    QLabel* noFolders_;
    QLabel* noPins_;
    QLabel* pinProblem_;
    QPushButton* addFolder_;
    QPushButton* addPin_;
    std::optional<FoldersScreen> shown_;
};

}  // namespace keldwick
