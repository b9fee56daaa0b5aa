#include "files/DropOverlay.h"

#include <QPainter>
#include <QPainterPath>

#include "ui/Symbols.h"

namespace keldwick {

namespace {

constexpr int symbolSize = 22;
constexpr int symbolGap = 8;
constexpr int padding = 18;

}  // namespace

DropOverlay::DropOverlay(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_TranslucentBackground);
}

void DropOverlay::setText(const QString& text) {
    if (text == text_) return;
    text_ = text;
    update();
}

QFont DropOverlay::headingFont() const {
    QFont heading = font();
    heading.setPointSizeF(heading.pointSizeF() * 1.5);
    heading.setWeight(QFont::DemiBold);
    return heading;
}

QRect DropOverlay::plateRect() const {
    const QFontMetrics metrics(headingFont());
    const int textWidth = metrics.horizontalAdvance(text_);
    const QSize content(symbolSize + symbolGap + textWidth, std::max(symbolSize, metrics.height()));
    QRect plate(QPoint(0, 0), content + QSize(2 * padding, 2 * padding));
    // Inside the frame however narrow the list: the text is elided rather than the plate.
    plate.setWidth(std::min(plate.width(), std::max(0, width() - 16)));
    plate.moveCenter(rect().center());
    return plate;
}

void DropOverlay::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QColor accent = palette().color(QPalette::Highlight);
    QColor wash = accent;
    wash.setAlphaF(0.08);
    painter.setPen(QPen(accent, 3));
    painter.setBrush(wash);
    painter.drawRoundedRect(QRectF(rect()).adjusted(1.5, 1.5, -1.5, -1.5), 10, 10);

    // The plate: the window's colour, translucent, so the list shows faintly through it.
    const QRect plate = plateRect();
    QColor material = palette().color(QPalette::Window);
    material.setAlphaF(0.85);
    painter.setPen(Qt::NoPen);
    painter.setBrush(material);
    painter.drawRoundedRect(plate, 10, 10);

    const QColor ink = palette().color(QPalette::WindowText);
    const QRect content = plate.adjusted(padding, padding, -padding, -padding);
    const QRect symbol(content.left(), content.center().y() - symbolSize / 2, symbolSize, symbolSize);
    Symbols::drawn("drive-add", ink).paint(&painter, symbol);
    painter.setPen(ink);
    painter.setFont(headingFont());
    const QRect textArea(symbol.right() + 1 + symbolGap, content.top(), content.right() - symbol.right() - symbolGap,
                         content.height());
    painter.drawText(textArea, Qt::AlignVCenter | Qt::AlignLeft,
                     QFontMetrics(headingFont()).elidedText(text_, Qt::ElideRight, textArea.width()));
}

}  // namespace keldwick
