#pragma once
// The top of every page of the first-run guide and of the permission window: a symbol
// (or, without one, the program's icon), a bold title and a secondary line, all centred.
// Title and text are shown as plain text: they can hold a drive's name.

#include <QWidget>
#include <optional>
#include <string>

class QLabel;

namespace keldwick {

class StepHeader final : public QWidget {
    Q_OBJECT

public:
    StepHeader(std::optional<std::string> systemImage, const QString& title, const QString& text,
               QWidget* parent = nullptr);

    void setText(const QString& text);
    QLabel* titleLabel() const { return title_; }
    QLabel* textLabel() const { return text_; }
    // The symbol or icon shown above the title.
    QLabel* iconLabel() const { return icon_; }

    // The program's own icon: the installed theme icon "keldwick", else the application's
    // window icon, else the drive symbol, so the header never shows a hole.
    static QIcon programIcon();

private:
    QLabel* icon_;
    QLabel* title_;
    QLabel* text_;
};

}  // namespace keldwick
