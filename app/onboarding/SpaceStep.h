#pragma once
// The guide's page that sets how much free space to keep, which folders to look in and
// whether the program opens at login. Every change goes straight into the guide's model;
// nothing is saved before the guide finishes. The folder list starts folded each time the
// page is made.

#include <QWidget>
#include <string>
#include <vector>

class QCheckBox;
class QLabel;
class QPushButton;
class QVBoxLayout;

namespace keldwick {

class KeepFreePicker;
class OnboardingHost;
class StepHeader;

class SpaceStep final : public QWidget {
    Q_OBJECT

public:
    explicit SpaceStep(OnboardingHost& host, QWidget* parent = nullptr);

    StepHeader* header() const { return header_; }
    KeepFreePicker* picker() const { return picker_; }
    QWidget* belowLevelNote() const { return note_; }
    QLabel* summary() const { return summary_; }
    QPushButton* changeButton() const { return change_; }
    QWidget* folderList() const { return folderList_; }
    // One switch per listed folder, in list order.
    const std::vector<QCheckBox*>& folderSwitches() const { return switches_; }
    QPushButton* addFolderButton() const { return addFolder_; }
    QCheckBox* openAtLoginSwitch() const { return openAtLogin_; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    QVBoxLayout* createFolderSection();
    void render();
    void renderFolders();

    OnboardingHost& host_;
    StepHeader* header_;
    KeepFreePicker* picker_;
    QWidget* note_;
    QLabel* summary_;
    QPushButton* change_;
    QWidget* folderList_;
    QVBoxLayout* folders_;
    std::vector<QCheckBox*> switches_;
    std::vector<QWidget*> folderEntries_;
    std::vector<std::string> listedPaths_;
    QPushButton* addFolder_;
    QCheckBox* openAtLogin_;
};

}  // namespace keldwick
