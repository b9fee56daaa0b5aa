#pragma once
// Values whose digits are all as wide as each other, so that a size or a count that
// changes in place doesn't shift sideways and figures line up in a column. Where the
// toolkit can set a font's features, the font's own tabular figures ("tnum"); elsewhere
// each digit is drawn centred in a cell as wide as the font's widest digit.

#include <QFont>
#include <QFontMetricsF>
#include <QRectF>
#include <QString>
#include <QStyledItemDelegate>

class QPainter;

namespace keldwick::TabularDigits {

// `font` asking for tabular figures, where the toolkit can ask for them.
QFont font(QFont font);

// The width `text` takes when drawn by draw() in `font`.
qreal width(const QFont& font, const QString& text);

// Draws `text` on one line in `rect` with the painter's pen, aligned by `alignment`
// (left, right or centre; vertically centred), with equal-width digits in the
// painter's font.
void draw(QPainter& painter, const QRectF& rect, Qt::Alignment alignment, const QString& text);

// A table column's cells drawn with equal-width digits (sizes, counts), otherwise as the
// style draws any cell: background, selection and focus, the text's colour and alignment.
class Delegate final : public QStyledItemDelegate {
    Q_OBJECT

public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
};

}  // namespace keldwick::TabularDigits
