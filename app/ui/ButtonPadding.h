#pragma once
// Push buttons keep room between their title and their frame. Some styles (Fusion among
// them) size a button to its title plus a few pixels, so a title runs against the
// border; this keeps at least the style's own button margin on each side, and leaves
// styles that give more as they are. Header only: the windows' tests' main, shared with
// the desktop services' tests, puts it over their style as the program does.

#include <QApplication>
#include <QProxyStyle>
#include <QStyleFactory>
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

// The name of `style` (QStyleFactory's): the style under the padding where it has one.
inline QString styleName(const QStyle* style) {
    if (auto* padded = dynamic_cast<const ButtonPadding*>(style)) return padded->baseStyle()->name();
    return style->name();
}

// The style named `key` with the padding over it; null when there is no such style.
inline QStyle* paddedStyle(const QString& key) {
    if (!QStyleFactory::keys().contains(key, Qt::CaseInsensitive)) return nullptr;
    return new ButtonPadding(key);
}

// Puts the padding over the application's style as it is now.
inline void keepButtonPadding() {
    if (dynamic_cast<ButtonPadding*>(QApplication::style())) return;
    if (QStyle* padded = paddedStyle(QApplication::style()->name())) QApplication::setStyle(padded);
}

}  // namespace keldwick
