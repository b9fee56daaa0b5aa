#pragma once
// The "General" tab: the free space to keep, whether moves wait for the user, pausing,
// starting at login, notifications and software updates. Controls show the stored
// values without writing them back; only the user's edits are saved.

#include <QWidget>

#include "settings/SettingsForm.h"

class QCheckBox;
class QLabel;
class QPushButton;

namespace keldwick {

class KeepFreePicker;
class SettingsHost;

class GeneralTab final : public QWidget {
    Q_OBJECT

public:
    explicit GeneralTab(SettingsHost& host, QWidget* parent = nullptr);

    void render();

    KeepFreePicker* keepFreePicker() const { return keepFree_; }
    QCheckBox* askFirstBox() const { return askFirst_; }
    QLabel* askCaptionLabel() const { return askCaption_; }
    QCheckBox* pauseBox() const { return pause_; }
    QCheckBox* loginBox() const { return login_; }
    QLabel* loginProblemLabel() const { return loginProblem_; }
    QCheckBox* notificationsBox() const { return notifications_; }
    // Null when updates aren't set up in this build.
    QCheckBox* automaticChecksBox() const { return automaticChecks_; }
    QCheckBox* automaticDownloadsBox() const { return automaticDownloads_; }
    // Why the program can't replace itself here, under the updates section.
    QLabel* downloadsNoteLabel() const { return updatesSection_.footer; }
    QPushButton* checkForUpdatesButton() const { return checkForUpdates_; }

private:
    QWidget* createKeepFreeSection();
    QWidget* createMovingSection();
    QWidget* createSystemSection();
    QWidget* createUpdatesSection();
    void connectEdits();
    void setLoginItem(bool on);

    SettingsHost& host_;
    FormSection keepFreeSection_;
    KeepFreePicker* keepFree_;
    QCheckBox* askFirst_;
    QLabel* askCaption_;
    QCheckBox* pause_;
    QCheckBox* login_;
    QLabel* loginProblem_;
    QCheckBox* notifications_;
    QCheckBox* automaticChecks_ = nullptr;
    QCheckBox* automaticDownloads_ = nullptr;
    FormSection updatesSection_;
    QLabel* notSetUp_ = nullptr;
    QLabel* version_;
    QPushButton* checkForUpdates_;
};

}  // namespace keldwick
