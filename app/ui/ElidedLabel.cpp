#include "ui/ElidedLabel.h"

#include <QEvent>

#include "ui/PlainText.h"

namespace keldwick {

ElidedLabel::ElidedLabel(const QString& text, QWidget* parent, Qt::TextElideMode mode)
    : QLabel(parent), mode_(mode) {
    setTextFormat(Qt::PlainText);
    setWordWrap(false);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    setFullText(text);
}

void ElidedLabel::setFullText(const QString& text) {
    full_ = text;
    setAccessibleName(text);
    updateGeometry();
    fit();
}

void ElidedLabel::setHelp(const QString& help) {
    help_ = help;
    fit();
}

QSize ElidedLabel::sizeHint() const {
    const QMargins m = contentsMargins();
    return {fontMetrics().horizontalAdvance(full_) + 2 * margin() + m.left() + m.right() + 1,
            QLabel::sizeHint().height()};
}

QSize ElidedLabel::minimumSizeHint() const {
    const int few = fontMetrics().horizontalAdvance(full_.left(3) + QStringLiteral("\u2026")) + 1;
    return {std::min(few, sizeHint().width()), QLabel::minimumSizeHint().height()};
}

void ElidedLabel::resizeEvent(QResizeEvent* event) {
    QLabel::resizeEvent(event);
    fit();
}

void ElidedLabel::changeEvent(QEvent* event) {
    QLabel::changeEvent(event);
    if (event->type() == QEvent::FontChange) {
        updateGeometry();
        fit();
    }
}

void ElidedLabel::showEvent(QShowEvent* event) {
    QLabel::showEvent(event);
    fit();
}

void ElidedLabel::fit() {
    // Until it is shown its width is no layout's answer yet.
    const int room = contentsRect().width() - 2 * margin();
    const QString shown = isVisible() ? fontMetrics().elidedText(full_, mode_, std::max(0, room)) : full_;
    if (shown != text()) QLabel::setText(shown);
    setPlainToolTip(this, shown != full_ ? full_ : help_);
}

}  // namespace keldwick
