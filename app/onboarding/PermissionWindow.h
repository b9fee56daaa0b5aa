#pragma once
// "Keldwick Permission": the instructions on their own, opened when the program finds it
// can't reach the user's folders. Without access its button reads "Close" (Escape);
// with access, "Done" (Return). Both only close the window. The window takes the height
// of what it says (at least its usual size) and the user can't resize it; where the
// screen is too low for that, the words scroll above the button.

#include <QDialog>

#include "ui/WindowRegistry.h"

class QPushButton;
class QScrollArea;

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
    QScrollArea* scrollArea() const { return scroll_; }

    // The width, and the height that shows every line (never below the usual size).
    QSize sizeHint() const override;
    // Takes the size hint again, held to the screen's free height.
    void fitContent();

protected:
    bool event(QEvent* event) override;

private:
    void render();

    OnboardingHost& host_;
    QScrollArea* scroll_;
    QWidget* content_;
    PermissionInstructions* instructions_;
    QPushButton* button_;
};

// The registry's entry for the window over `host`.
WindowRegistry::Entry permissionWindowEntry(OnboardingHost& host);

}  // namespace keldwick
