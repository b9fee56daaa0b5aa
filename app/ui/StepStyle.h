#pragma once
// How the guide's pieces look: symbols at a size, texts in the secondary style or in a
// signal colour, semibold titles. Shared by the pages, the permission window and the
// settings tabs that reuse the pieces.

#include <QColor>
#include <QFont>
#include <QString>
#include <string_view>

class QLabel;
class QWidget;

namespace keldwick::style {

// A label showing `symbol` at `pixels`, greyed when `dimmed`; decoration only, so it is
// left out of accessibility.
QLabel* symbolLabel(std::string_view symbol, int pixels, QWidget* parent, bool dimmed = false);
// The same in the accent colour (the palette's highlight), drawn again when the palette
// changes.
QLabel* accentSymbolLabel(std::string_view symbol, int pixels, QWidget* parent);
// Text drawn in the palette's secondary (placeholder) colour.
void secondary(QWidget* widget);
// Text drawn in `color`.
void tint(QWidget* widget, const QColor& color);
// The callout font: 12 points to the body's 13.
QFont calloutFont(const QFont& body);
// The font scaled by `scale`, with `weight`.
void font(QWidget* widget, double scale, int weight);
// A symbol beside a wrapped plain text: in the secondary style, or in `color` (symbol
// and text) when one is given. `label`, when given, receives the text's label.
QWidget* symbolRow(std::string_view symbol, const QString& text, QWidget* parent, const QColor& color = QColor(),
                   QLabel** label = nullptr);
// Paints the rounded, faintly filled background of a row or box.
void paintPanel(QWidget* widget);

}  // namespace keldwick::style
