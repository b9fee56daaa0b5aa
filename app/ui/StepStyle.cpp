#include "ui/StepStyle.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QEvent>
#include <QPainter>
#include <string>

#include "ui/PlainText.h"

#include "ui/Symbols.h"

namespace keldwick::style {

namespace {

class AccentSymbol final : public QLabel {
public:
    AccentSymbol(std::string_view symbol, int pixels, QWidget* parent)
        : QLabel(parent), symbol_(symbol), pixels_(pixels) {
        setAlignment(Qt::AlignCenter);
        setAccessibleName(QString());
        setFocusPolicy(Qt::NoFocus);
        draw();
    }

protected:
    void changeEvent(QEvent* event) override {
        QLabel::changeEvent(event);
        if (event->type() == QEvent::PaletteChange) draw();
    }

private:
    void draw() { setPixmap(Symbols::drawn(symbol_, palette().color(QPalette::Highlight)).pixmap(pixels_, pixels_)); }

    std::string symbol_;
    int pixels_;
};

}  // namespace

QLabel* accentSymbolLabel(std::string_view symbol, int pixels, QWidget* parent) {
    return new AccentSymbol(symbol, pixels, parent);
}

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

QFont calloutFont(const QFont& body) {
    QFont callout = body;
    callout.setPointSizeF(body.pointSizeF() * 12.0 / 13.0);
    return callout;
}

void font(QWidget* widget, double scale, int weight) {
    QFont f = widget->font();
    if (scale != 1.0) f.setPointSizeF(f.pointSizeF() * scale);
    f.setWeight(static_cast<QFont::Weight>(weight));
    widget->setFont(f);
}

QWidget* symbolRow(std::string_view symbol, const QString& text, QWidget* parent, const QColor& color,
                   QLabel** label) {
    auto* row = new QWidget(parent);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(8);
    auto* icon = new QLabel(row);
    const QIcon picture = color.isValid() ? Symbols::drawn(symbol, color) : Symbols::icon(symbol);
    icon->setPixmap(picture.pixmap(18, 18));
    icon->setAccessibleName(QString());
    layout->addWidget(icon, 0, Qt::AlignTop);
    auto* words = plainLabel(text, row, true);
    if (color.isValid())
        tint(words, color);
    else
        secondary(words);
    layout->addWidget(words, 1);
    if (label) *label = words;
    return row;
}

void paintPanel(QWidget* widget) {
    QPainter painter(widget);
    painter.setRenderHint(QPainter::Antialiasing);
    QColor fill = widget->palette().color(QPalette::Text);
    fill.setAlpha(16);
    painter.setPen(Qt::NoPen);
    painter.setBrush(fill);
    painter.drawRoundedRect(QRectF(widget->rect()), 8, 8);
}

}  // namespace keldwick::style
