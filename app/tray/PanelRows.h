#pragma once
// The tray panel's row widgets: a command row that highlights under the pointer or the
// keyboard focus like a menu item and shows its trailing text and shortcut, a
// label-and-value row, and a storage row with a thin bar and the keep-free tick. The
// values' digits are of equal width.

#include <QAbstractButton>
#include <QWidget>

#include "tray/PopoverRows.h"

namespace keldwick {

QColor colorOf(Tint tint, const QPalette& palette);

// A command row, read by a screen reader as its title with its trailing text ("Show Files
// on Archive…, 3 need attention"), its shortcut as the description.
class MenuActionRow final : public QAbstractButton {
    Q_OBJECT

public:
    explicit MenuActionRow(const PanelRow& row, QWidget* parent = nullptr);
    // Shows `row`'s texts and state, keeping the focus and the pointer's press.
    void setRow(const PanelRow& row);
    PanelCommand command() const { return row_.command; }

    // Hovered or reached with Tab, and enabled: drawn on the accent colour.
    bool isHighlighted() const { return (underMouse() || hasFocus()) && isEnabled(); }
    // "Ctrl+Q" for the shortcut 'q'; empty without one.
    QString shortcutHint() const;
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    // Return and Enter choose the row, as in a menu (a button takes only Space).
    void keyPressEvent(QKeyEvent* event) override;

private:
    PanelRow row_;
};

// A title and, at the right end, a value in the secondary colour. One element for a
// screen reader, named by both texts ("Last run, Yesterday").
class MenuInfoRow final : public QWidget {
    Q_OBJECT

public:
    explicit MenuInfoRow(const PanelRow& row, QWidget* parent = nullptr);
    void setRow(const PanelRow& row);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    PanelRow row_;
};

// The status: a white symbol on a filled circle beside the headline and, wrapped below it,
// the detail. It paints all of it itself, so a screen reader meets one element named by
// the texts, and never the symbol.
class StatusBlock final : public QWidget {
    Q_OBJECT

public:
    explicit StatusBlock(const PanelRow& row, QWidget* parent = nullptr);
    void setRow(const PanelRow& row);

    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QFont headlineFont() const;
    QFont detailFont() const;
    // The texts' rectangles for a block `width` wide.
    QRect headlineRect(int width) const;
    QRect detailRect(int width) const;

    PanelRow row_;
};

class StorageBarRow final : public QWidget {
    Q_OBJECT

public:
    explicit StorageBarRow(const PanelRow& row, QWidget* parent = nullptr);
    void setRow(const PanelRow& row);

    // The bar's filled part and the tick's centre across a bar `width` wide: never
    // narrower than 5, so an almost empty bar still shows a dot.
    static double fillWidth(double fill, double width);
    static double tickCentre(double mark, double width);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int lineHeight() const;

    PanelRow row_;
};

}  // namespace keldwick
