#pragma once
// Push buttons keep room between their title and their frame. Some styles (Fusion among
// them) size a button to its title plus a few pixels, so a title runs against the
// border; this keeps at least the style's own button margin on each side, and leaves
// styles that give more as they are. Header only: the windows' tests' main, shared with
// the desktop services' tests, puts it over their style as the program does.

#include <QApplication>
#include <QProxyStyle>
#include <algorithm>

namespace keldwick {

class ButtonPadding final : public QProxyStyle {
public:
    // Over the style named `key` (QStyleFactory's names).
    explicit ButtonPadding(const QString& key) : QProxyStyle(key) {}

    QSize sizeFromContents(ContentsType type, const QStyleOption* option, const QSize& contents,
                           const QWidget* widget) const override {
        QSize size = QProxyStyle::sizeFromContents(type, option, contents, widget);
        if (type != CT_PushButton) return size;
        // The title's room, then the margin and the frame on each side.
        const int side =
            pixelMetric(PM_ButtonMargin, option, widget) + pixelMetric(PM_DefaultFrameWidth, option, widget);
        size.setWidth(std::max(size.width(), contents.width() + 2 * side));
        return size;
    }
};

// Puts the padding over the application's style as it is now.
inline void keepButtonPadding() {
    if (dynamic_cast<ButtonPadding*>(QApplication::style())) return;
    QApplication::setStyle(new ButtonPadding(QApplication::style()->name()));
}

}  // namespace keldwick
