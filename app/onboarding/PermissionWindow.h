#pragma once
// "Keldwick Permission": the instructions on their own, opened when the program finds it
// can't reach the user's folders. Without access its button reads "Close" (Escape);
// with access, "Done" (Return). Both only close the window.

#include <QDialog>

#include "ui/WindowRegistry.h"

class QPushButton;

namespace keldwick {

class OnboardingHost;
class PermissionInstructions;

class PermissionWindow final : public QDialog {
    Q_OBJECT

public:
    static constexpr int defaultWidth = 540;
    static constexpr int defaultHeight = 460;

    explicit PermissionWindow(OnboardingHost& host, QWidget* parent = nullptr);

    PermissionInstructions* instructions() const { return instructions_; }
    QPushButton* closeButton() const { return button_; }

private:
    void render();

    OnboardingHost& host_;
    PermissionInstructions* instructions_;
    QPushButton* button_;
};

// The registry's entry for the window over `host`.
WindowRegistry::Entry permissionWindowEntry(OnboardingHost& host);

}  // namespace keldwick
