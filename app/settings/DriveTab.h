#pragma once
// The "Drive" tab: the drive that holds the moved files (name, whether it is plugged in,
// what of the user's is on it, its kind and speed), its folder in the file manager, a
// new speed check, and a switch to another drive through the chooser. The checks belong
// to the program (DriveCheck): this tab only starts them and shows how they go.

#include <QDialog>
#include <QPointer>
#include <QWidget>
#include <vector>

#include "model/DriveOption.h"
#include "settings/SettingsForm.h"

class QFormLayout;
class QLabel;
class QProgressBar;
class QPushButton;

namespace keldwick {

class ElidedLabel;

class SettingsHost;

// "Choose a drive": one row per drive offered; choosing one closes the chooser and hands
// the option on. Escape and "Cancel" close it without a choice.
// The drives to choose from, each row as tall as its lines; where the screen is lower
// than all of them, the rows scroll between the headline and Cancel.
class DriveChooser final : public QDialog {
    Q_OBJECT

public:
    DriveChooser(const std::vector<DriveOption>& options, const std::optional<Drive>& stored, QWidget* parent);

    // 540 wide, as tall as every row's lines.
    QSize sizeHint() const override;

protected:
    // Takes the size hint again, held to the screen's free height, when lines change.
    bool event(QEvent* event) override;

signals:
    void chosen(const keldwick::DriveOption& option);

private:
    void fitContent();

    QWidget* rows_;
    QWidget* bar_;
};

class DriveTab final : public QWidget {
    Q_OBJECT

public:
    explicit DriveTab(SettingsHost& host, QWidget* parent = nullptr);

    void render();

    // "Use a Different Drive…": lists the drives, then shows the chooser.
    void chooseDifferentDrive();
    // The open chooser, or null.
    DriveChooser* chooser() const { return chooser_; }

    QPushButton* showFolderButton() const { return showFolder_; }
    QPushButton* differentDriveButton() const { return different_; }
    QPushButton* checkSpeedButton() const { return checkSpeed_; }
    QLabel* statusLabel() const { return status_; }
    QLabel* errorLabel() const { return error_; }
    QLabel* workingLabel() const { return working_; }
    QLabel* notCheckedLabel() const { return notChecked_; }

private:
    QWidget* createDriveSection();
    QWidget* createActionsSection();
    QWidget* createSpeedSection();
    void openChooser(const std::vector<DriveOption>& options);

    SettingsHost& host_;
    QLabel* noDrive_;
    QWidget* facts_;
    ElidedLabel* name_;
    QLabel* status_;
    QLabel* files_;
    QLabel* kindTitle_;
    QLabel* kind_;
    QLabel* summary_;
    QPushButton* showFolder_;
    QPushButton* different_;
    QProgressBar* spinner_;
    QLabel* working_;
    QLabel* error_;
    FormSection speed_;
    QFormLayout* speedForm_;
    QLabel* checkedTitle_;
    QLabel* checked_;
    QLabel* notChecked_;
    QPushButton* checkSpeed_;
    QPointer<DriveChooser> chooser_;
    bool listing_ = false;
};

}  // namespace keldwick
