#include "onboarding/StepStyle.h"

#include <QLabel>

#include "ui/Symbols.h"

namespace keldwick::style {

QLabel* symbolLabel(std::string_view symbol, int pixels, QWidget* parent, bool dimmed) {
    auto* label = new QLabel(parent);
    label->setPixmap(Symbols::icon(symbol).pixmap(pixels, pixels, dimmed ? QIcon::Disabled : QIcon::Normal));
    label->setAlignment(Qt::AlignCenter);
    label->setAccessibleName(QString());
    label->setFocusPolicy(Qt::NoFocus);
    return label;
}

void secondary(QWidget* widget) { widget->setForegroundRole(QPalette::PlaceholderText); }

void tint(QWidget* widget, const QColor& color) {
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, color);
    palette.setColor(QPalette::Text, color);
    widget->setPalette(palette);
    widget->setForegroundRole(QPalette::WindowText);
}

void font(QWidget* widget, double scale, int weight) {
    QFont f = widget->font();
    if (scale != 1.0) f.setPointSizeF(f.pointSizeF() * scale);
    f.setWeight(static_cast<QFont::Weight>(weight));
    widget->setFont(f);
}

}  // namespace keldwick::style
