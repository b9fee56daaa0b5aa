#pragma once
// How to let the program into the user's folders, and the confirmation once it may. While
// on screen it probes the permission at once and then once a second, and keeps probing
// after access is granted so that a withdrawal shows the steps again; hidden, it stops.
// Its button shows the folder that refuses access in the file manager; where there is none
// to show, it explains what shuts the program out instead of opening nothing.

#include <QTimer>
#include <QWidget>

class QLabel;
class QPushButton;

namespace keldwick {

class OnboardingHost;

class PermissionInstructions final : public QWidget {
    Q_OBJECT

public:
    explicit PermissionInstructions(OnboardingHost& host, QWidget* parent = nullptr);

    const QTimer& probeTimer() const { return probe_; }
    QWidget* steps() const { return steps_; }
    QPushButton* settingsButton() const { return settingsButton_; }
    // What blocks access, or where to go, shown once the button showed nothing.
    QLabel* blockedLabel() const { return blocked_; }
    QWidget* granted() const { return granted_; }
    // The standard folders closed by their own permissions, named whether or not access is given.
    QLabel* refusedNote() const { return refusedNote_; }

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void render();
    void openSettings();

    OnboardingHost& host_;
    QTimer probe_;
    QWidget* steps_;
    QPushButton* settingsButton_;
    QLabel* blocked_;
    QWidget* granted_;
    QLabel* refusedNote_;
};

}  // namespace keldwick
