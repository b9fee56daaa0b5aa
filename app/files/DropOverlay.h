#pragma once
// What the moved-files list shows while a drag it takes hovers over it: a rounded frame
// in the accent colour over a faint wash of it, and in the middle, on a translucent
// plate of the window's colour, the drive-with-a-plus symbol and "Move to <drive>".
// Drawn over the list, never in the way of the drop.

#include <QWidget>

namespace keldwick {

class DropOverlay final : public QWidget {
    Q_OBJECT

public:
    explicit DropOverlay(QWidget* parent = nullptr);

    void setText(const QString& text);
    const QString& text() const { return text_; }

    // The text's font: larger and semibold, as a heading.
    QFont headingFont() const;
    // The plate in the middle, for the overlay's size.
    QRect plateRect() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString text_;
};

}  // namespace keldwick
