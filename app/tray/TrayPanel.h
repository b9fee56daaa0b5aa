#pragma once
// The panel the tray icon opens: the header with the "Move files automatically" switch,
// then the rows of a PanelContents laid out top to bottom. It holds no state of its own: the
// owner hands it a new PanelContents whenever the model changes, and hears back which command was
// chosen and how the switch was turned. Escape and Ctrl+W close it; Tab goes through the
// switch and the command rows, and Return chooses one. Given less height than its rows
// need (a small screen, a large font), the rows scroll.

#include <QFrame>
#include <functional>
#include <vector>

#include "tray/PopoverRows.h"

class QCheckBox;
class QScrollArea;
class QShortcut;
class QVBoxLayout;

namespace keldwick {

class TrayPanel final : public QFrame {
    Q_OBJECT

public:
    std::function<void(PanelCommand)> onCommand;
    std::function<void(bool moveAutomatically)> onSwitch;

    explicit TrayPanel(QWidget* parent = nullptr);

    // Shows `panel`: rows of the same kinds in the same order keep their widgets and take
    // the new texts, values and states; nothing happens when it shows that already.
    void show(const PanelContents& panel);
    const PanelContents& shown() const { return panel_; }
    QCheckBox* automaticSwitch() const { return switch_; }
    QScrollArea* scrollArea() const { return scroll_; }

    // As high as every row asks at the panel's width.
    QSize sizeHint() const override;
    // As high as the rows ask, or the panel's maximum height when that is less.
    void fitRows();

private:
    void run(PanelCommand command);
    // Makes the widgets for panel_'s shape; show() then fills them.
    void build();
    static std::vector<int> shapeOf(const PanelContents& panel);

    PanelContents panel_;
    bool built_ = false;
    QScrollArea* scroll_;
    QWidget* content_;
    QVBoxLayout* rows_;
    QCheckBox* switch_ = nullptr;
    QList<QShortcut*> shortcuts_;
    std::function<void(const PanelHeader&)> updateHeader_;
    std::vector<std::function<void(const PanelRow&)>> updateRows_;  // one a row; empty for none
};

}  // namespace keldwick
