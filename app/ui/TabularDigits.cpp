#include "ui/TabularDigits.h"

#include <QApplication>
#include <QPainter>
#include <QStyle>
#include <QtGlobal>
#include <algorithm>

namespace keldwick::TabularDigits {

namespace {

#if QT_VERSION >= QT_VERSION_CHECK(6, 7, 0)
constexpr bool fontFeatures = true;
#else
constexpr bool fontFeatures = false;
#endif

qreal digitCell(const QFontMetricsF& metrics) {
    qreal widest = 0;
    for (char digit = '0'; digit <= '9'; ++digit) widest = std::max(widest, metrics.horizontalAdvance(QChar(digit)));
    return widest;
}

bool isAsciiDigit(QChar c) { return c >= QLatin1Char('0') && c <= QLatin1Char('9'); }

// Calls `each(run, isDigit)` for every digit alone and every run of other characters, in
// order. Runs are drawn whole, so their kerning and shaping stay.
template <class Each>
void forEachPiece(const QString& text, Each each) {
    for (qsizetype i = 0; i < text.size();) {
        qsizetype end = i + 1;
        if (!isAsciiDigit(text[i])) {
            while (end < text.size() && !isAsciiDigit(text[end])) ++end;
        }
        each(text.mid(i, end - i), isAsciiDigit(text[i]));
        i = end;
    }
}

}  // namespace

QFont font(QFont font) {
#if QT_VERSION >= QT_VERSION_CHECK(6, 7, 0)
    font.setFeature(QFont::Tag("tnum"), 1);
#endif
    return font;
}

qreal width(const QFont& given, const QString& text) {
    const QFontMetricsF metrics(font(given));
    if (fontFeatures) return metrics.horizontalAdvance(text);
    const qreal cell = digitCell(metrics);
    qreal total = 0;
    forEachPiece(text, [&](const QString& piece, bool digit) {
        total += digit ? cell : metrics.horizontalAdvance(piece);
    });
    return total;
}

void draw(QPainter& painter, const QRectF& rect, Qt::Alignment alignment, const QString& text) {
    const QFont shown = font(painter.font());
    painter.save();
    painter.setFont(shown);
    const qreal total = width(shown, text);
    qreal x = rect.left();
    if (alignment & Qt::AlignRight) x = rect.right() - total;
    if (alignment & Qt::AlignHCenter) x = rect.center().x() - total / 2;
    if (fontFeatures) {
        painter.drawText(QRectF(x, rect.top(), total + 1, rect.height()), Qt::AlignVCenter | Qt::AlignLeft, text);
        painter.restore();
        return;
    }
    const QFontMetricsF metrics(shown);
    const qreal cell = digitCell(metrics);
    forEachPiece(text, [&](const QString& piece, bool digit) {
        const qreal advance = metrics.horizontalAdvance(piece);
        // A digit sits in the middle of its cell.
        const qreal left = digit ? x + (cell - advance) / 2 : x;
        painter.drawText(QRectF(left, rect.top(), advance + 1, rect.height()), Qt::AlignVCenter | Qt::AlignLeft, piece);
        x += digit ? cell : advance;
    });
    painter.restore();
}

void Delegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const {
    QStyleOptionViewItem cell = option;
    initStyleOption(&cell, index);
    const QString text = cell.text;
    cell.text.clear();
    const QWidget* widget = cell.widget;
    QStyle* style = widget ? widget->style() : QApplication::style();
    style->drawControl(QStyle::CE_ItemViewItem, &cell, painter, widget);

    cell.text = text;
    const QRect area = style->subElementRect(QStyle::SE_ItemViewItemText, &cell, widget);
    // The style's own inset of a cell's text.
    const int inset = style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, widget) + 1;
    const bool selected = cell.state & QStyle::State_Selected;
    const QPalette::ColorGroup group = !(cell.state & QStyle::State_Enabled) ? QPalette::Disabled
                                       : (cell.state & QStyle::State_Active) ? QPalette::Active
                                                                              : QPalette::Inactive;
    painter->save();
    painter->setFont(cell.font);
    painter->setPen(cell.palette.color(group, selected ? QPalette::HighlightedText : QPalette::Text));
    if (!selected && index.data(Qt::ForegroundRole).canConvert<QBrush>())
        painter->setPen(index.data(Qt::ForegroundRole).value<QBrush>().color());
    draw(*painter, QRectF(area.adjusted(inset, 0, -inset, 0)), cell.displayAlignment, text);
    painter->restore();
}

}  // namespace keldwick::TabularDigits
