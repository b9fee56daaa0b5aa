#pragma once
// The panel the tray icon opens: the header with the "Move files automatically" switch,
// then the rows of a PanelContents laid out top to bottom. It holds no state of its own: the
// owner hands it a new PanelContents whenever the model changes, and hears back which command was
// chosen and how the switch was turned. Escape and Ctrl+W close it; Tab goes through the
// switch and the command rows, and Return chooses one.

#include <QFrame>
#include <functional>

#include "menubar/PopoverRows.h"

class QCheckBox;
class QShortcut;
class QVBoxLayout;

namespace keldwick {

class TrayPanel final : public QFrame {
    Q_OBJECT

public:
    std::function<void(PanelCommand)> onCommand;
    std::function<void(bool moveAutomatically)> onSwitch;

    explicit TrayPanel(QWidget* parent = nullptr);

    // Rebuilds the contents for `panel`; nothing when it shows that already.
    void show(const PanelContents& panel);
    const PanelContents& shown() const { return panel_; }
    QCheckBox* automaticSwitch() const { return switch_; }

private:
    void run(PanelCommand command);

    PanelContents panel_;
    bool built_ = false;
    QVBoxLayout* rows_;
    QCheckBox* switch_ = nullptr;
    QList<QShortcut*> shortcuts_;
};

}  // namespace keldwick
