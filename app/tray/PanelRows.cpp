#include "tray/PanelRows.h"

#include <QKeyEvent>
#include <QKeySequence>
#include <QPainter>
#include <QPainterPath>
#include <cmath>

#include "ui/Brand.h"
#include "ui/Accessibility.h"
#include "ui/PlainText.h"
#include "ui/StepStyle.h"
#include "ui/Symbols.h"
#include "ui/TabularDigits.h"

namespace keldwick {

namespace {

// Every row's text lines up on this inset; the highlight reaches it through 5 + 9.
constexpr int margin = 14;
constexpr int outer = 5;
constexpr int rowHeight = 22;

// 22 points high, or taller when the font is larger.
int rowHeightFor(const QFontMetrics& metrics) { return std::max(rowHeight, metrics.height() + 6); }

}  // namespace

QColor colorOf(Tint tint, const QPalette& palette) {
    switch (tint) {
    case Tint::primary:
        return palette.color(QPalette::WindowText);
    case Tint::secondary:
        return palette.color(QPalette::PlaceholderText);
    case Tint::accent:
        return palette.color(QPalette::Highlight);
    case Tint::orange:
        return brandOrange();
    }
    return {};
}

MenuActionRow::MenuActionRow(const PanelRow& row, QWidget* parent) : QAbstractButton(parent), row_(row) {
    setAttribute(Qt::WA_Hover);
    setFocusPolicy(Qt::StrongFocus);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    setRow(row);
}

void MenuActionRow::setRow(const PanelRow& row) {
    row_ = row;
    setEnabled(row.enabled);
    setText(QString::fromStdString(row.title));
    setAccessibleName(QString::fromStdString(accessibleRowName(row)));
    setAccessibleDescription(shortcutHint());
    update();
}

void MenuActionRow::keyPressEvent(QKeyEvent* event) {
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
        if (isEnabled()) click();
        return;
    }
    QAbstractButton::keyPressEvent(event);
}

QString MenuActionRow::shortcutHint() const {
    if (!row_.shortcut) return {};
    return QKeySequence(QKeyCombination(Qt::ControlModifier, Qt::Key(QChar(*row_.shortcut).toUpper().unicode())))
        .toString(QKeySequence::NativeText);
}

QSize MenuActionRow::sizeHint() const { return {300, rowHeightFor(fontMetrics())}; }

void MenuActionRow::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF area = QRectF(rect()).adjusted(outer, 0, -outer, 0);
    const bool highlighted = isHighlighted();
    if (highlighted) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(palette().color(QPalette::Highlight));
        painter.drawRoundedRect(area, 5, 5);
    }
    const QRectF textArea = area.adjusted(9, 0, -9, 0);
    QColor titleColor = colorOf(Tint::primary, palette());
    if (!isEnabled()) {
        titleColor = colorOf(Tint::secondary, palette());
        titleColor.setAlphaF(0.6);
    } else if (highlighted) {
        titleColor = Qt::white;
    }
    QColor sideColor = highlighted ? QColor(255, 255, 255, 217) : QColor();
    // Right to left: the shortcut hint at the end, the trailing text before it.
    double right = textArea.right();
    auto drawRight = [&](const QString& text, const QColor& color) {
        if (text.isEmpty()) return;
        const double w = fontMetrics().horizontalAdvance(text);
        painter.setPen(color);
        painter.drawText(QRectF(right - w, textArea.top(), w, textArea.height()), Qt::AlignVCenter, text);
        right -= w + 6;
    };
    drawRight(shortcutHint(), sideColor.isValid() ? sideColor : colorOf(Tint::secondary, palette()));
    drawRight(QString::fromStdString(row_.value), sideColor.isValid() ? sideColor : colorOf(row_.valueTint, palette()));
    painter.setPen(titleColor);
    const QRectF titleArea(textArea.left(), textArea.top(), std::max(0.0, right - 8 - textArea.left()), textArea.height());
    const QString shown = fontMetrics().elidedText(text(), Qt::ElideRight, int(titleArea.width()));
    painter.drawText(titleArea, Qt::AlignVCenter | Qt::AlignLeft, shown);
    // A shortened title is read whole in the tooltip. A screen reader has it in the name,
    // and its description must not be empty, or it would read the tooltip's markup.
    const bool shortened = shown != text();
    const QString tip = shortened ? toolTipText(text()) : QString();
    const QString description = row_.shortcut ? shortcutHint() : shortened ? text() : QString();
    if (toolTip() != tip) setToolTip(tip);
    if (accessibleDescription() != description) setAccessibleDescription(description);
}

MenuInfoRow::MenuInfoRow(const PanelRow& row, QWidget* parent) : QWidget(parent), row_(row) {
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    setRow(row);
}

void MenuInfoRow::setRow(const PanelRow& row) {
    row_ = row;
    const QString title = QString::fromStdString(row.title);
    const QString value = QString::fromStdString(row.value);
    setAccessibleName(value.isEmpty() ? title : title + QStringLiteral(", ") + value);
    setPlainToolTip(this, QString::fromStdString(row.help));
    updateGeometry();
    update();
}

QSize MenuInfoRow::sizeHint() const {
    const QString title = QString::fromStdString(row_.title);
    const int valueWidth = int(std::ceil(TabularDigits::width(font(), QString::fromStdString(row_.value))));
    return {2 * margin + fontMetrics().horizontalAdvance(title) + 8 + valueWidth, rowHeightFor(fontMetrics())};
}

QSize MenuInfoRow::minimumSizeHint() const { return {0, rowHeightFor(fontMetrics())}; }

void MenuInfoRow::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QRectF line(margin, 0, width() - 2 * margin, height());
    const QString value = QString::fromStdString(row_.value);
    const qreal valueWidth = TabularDigits::width(font(), value);
    painter.setPen(colorOf(Tint::secondary, palette()));
    TabularDigits::draw(painter, line, Qt::AlignRight, value);
    // The title holds the drive's name, which may be long: it gives way, the value not.
    painter.setPen(colorOf(Tint::primary, palette()));
    const QRectF titleArea(line.left(), line.top(), std::max(0.0, line.width() - valueWidth - 8), line.height());
    const QString title = QString::fromStdString(row_.title);
    const QString shown = fontMetrics().elidedText(title, Qt::ElideRight, int(titleArea.width()));
    painter.drawText(titleArea, Qt::AlignVCenter | Qt::AlignLeft, shown);
    // A shortened title is read whole in the tooltip, unless the row has help of its own.
    if (row_.help.empty()) {
        const QString tip = shown != title ? toolTipText(title) : QString();
        if (toolTip() != tip) {
            setToolTip(tip);
            // A screen reader would read the tooltip's markup where the row has no description.
            setAccessibleDescription(shown != title ? title : QString());
        }
    }
}

namespace {

constexpr int statusSymbolSize = 26;
constexpr int statusSpacing = 10;
constexpr int statusPadding = 6;

}  // namespace

StatusBlock::StatusBlock(const PanelRow& row, QWidget* parent) : QWidget(parent), row_(row) {
    // Its painted symbol is no element.
    static const bool once = (readAsOneElement(staticMetaObject, QAccessible::StaticText), true);
    (void)once;
    QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Minimum);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
    setRow(row);
}

void StatusBlock::setRow(const PanelRow& row) {
    row_ = row;
    setAccessibleName(QString::fromStdString(accessibleRowName(row)));
    updateGeometry();
    update();
}

QFont StatusBlock::headlineFont() const {
    QFont semibold = font();
    semibold.setWeight(QFont::DemiBold);
    return semibold;
}

QFont StatusBlock::detailFont() const { return style::calloutFont(font()); }

QRect StatusBlock::headlineRect(int width) const {
    const int left = margin + statusSymbolSize + statusSpacing;
    const int textWidth = std::max(1, width - left - margin);
    const QRect bounds = QFontMetrics(headlineFont())
                             .boundingRect(QRect(0, 0, textWidth, 100000), Qt::TextWordWrap,
                                           QString::fromStdString(row_.title));
    return {left, statusPadding, textWidth, bounds.height()};
}

QRect StatusBlock::detailRect(int width) const {
    const QRect headline = headlineRect(width);
    if (!row_.detail || row_.detail->empty()) return {headline.left(), headline.bottom() + 1, headline.width(), 0};
    const QRect bounds = QFontMetrics(detailFont())
                             .boundingRect(QRect(0, 0, headline.width(), 100000), Qt::TextWordWrap,
                                           QString::fromStdString(*row_.detail));
    return {headline.left(), headline.bottom() + 1 + 2, headline.width(), bounds.height()};
}

int StatusBlock::heightForWidth(int width) const {
    const int texts = detailRect(width).bottom() + 1;
    return std::max(statusPadding + statusSymbolSize, texts) + statusPadding;
}

QSize StatusBlock::sizeHint() const {
    const int width = std::max(this->width(), 300);
    return {width, heightForWidth(width)};
}

QSize StatusBlock::minimumSizeHint() const { return {margin * 2 + statusSymbolSize + statusSpacing + 40, heightForWidth(300)}; }

void StatusBlock::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF circle(margin, statusPadding, statusSymbolSize, statusSymbolSize);
    painter.setPen(Qt::NoPen);
    painter.setBrush(colorOf(row_.tint, palette()));
    painter.drawEllipse(circle);
    Symbols::drawn(row_.symbol, Qt::white).paint(&painter, circle.adjusted(6, 6, -6, -6).toRect());
    painter.setPen(colorOf(Tint::primary, palette()));
    painter.setFont(headlineFont());
    painter.drawText(headlineRect(width()), Qt::TextWordWrap | Qt::AlignLeft | Qt::AlignTop,
                     QString::fromStdString(row_.title));
    if (!row_.detail || row_.detail->empty()) return;
    painter.setPen(colorOf(Tint::secondary, palette()));
    painter.setFont(detailFont());
    painter.drawText(detailRect(width()), Qt::TextWordWrap | Qt::AlignLeft | Qt::AlignTop,
                     QString::fromStdString(*row_.detail));
}

StorageBarRow::StorageBarRow(const PanelRow& row, QWidget* parent) : QWidget(parent), row_(row) { setRow(row); }

void StorageBarRow::setRow(const PanelRow& row) {
    row_ = row;
    setAccessibleName(QString::fromStdString(row.title));
    setAccessibleDescription(QString::fromStdString(storageAccessibleValue(row)));
    update();
}

double StorageBarRow::fillWidth(double fill, double width) { return std::max(width * fill, 5.0); }

double StorageBarRow::tickCentre(double mark, double width) { return width * mark; }

// The title's line: 18 points, or the font's height when that is more.
int StorageBarRow::lineHeight() const { return std::max(18, fontMetrics().height() + 2); }

QSize StorageBarRow::sizeHint() const { return {300, row_.fill ? lineHeight() + 16 : lineHeight() + 2}; }

void StorageBarRow::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const int left = margin, right = width() - margin;
    const QRect line(left, 0, right - left, lineHeight());
    Symbols::icon(row_.symbol).paint(&painter, QRect(line.left(), line.center().y() - 7, 14, 14));
    const QString value = QString::fromStdString(row_.value);
    const int valueWidth = int(std::ceil(TabularDigits::width(font(), value)));
    painter.setPen(colorOf(row_.valueTint, palette()));
    TabularDigits::draw(painter, QRectF(left, line.top(), right - left, line.height()), Qt::AlignRight, value);
    painter.setPen(colorOf(row_.fill ? Tint::primary : Tint::secondary, palette()));
    const QRect titleArea(left + 23, line.top(), std::max(0, right - valueWidth - 8 - left - 23), line.height());
    const QString title = QString::fromStdString(row_.title);
    const QString shown = fontMetrics().elidedText(title, Qt::ElideRight, titleArea.width());
    painter.drawText(titleArea, Qt::AlignVCenter | Qt::AlignLeft, shown);
    // A shortened drive name is read whole in the tooltip.
    const QString tip = shown != title ? toolTipText(title) : QString();
    if (toolTip() != tip) {
        setToolTip(tip);
        // A screen reader would read the tooltip's markup where the row has no reading.
        if (storageAccessibleValue(row_).empty()) setAccessibleDescription(shown != title ? title : QString());
    }
    if (!row_.fill) return;

    // The bar starts under the title: the icon's 16 points and a spacing of 7.
    const double barLeft = left + 23, barWidth = right - barLeft, barTop = line.top() + line.height() + 5;
    painter.setPen(Qt::NoPen);
    QColor track = colorOf(Tint::primary, palette());
    track.setAlphaF(0.1);
    painter.setBrush(track);
    painter.drawRoundedRect(QRectF(barLeft, barTop, barWidth, 5), 2.5, 2.5);
    painter.setBrush(colorOf(row_.tint, palette()));
    painter.drawRoundedRect(QRectF(barLeft, barTop, fillWidth(*row_.fill, barWidth), 5), 2.5, 2.5);
    if (row_.mark) {
        QColor tick = colorOf(Tint::primary, palette());
        tick.setAlphaF(0.6);
        painter.setBrush(tick);
        painter.drawRoundedRect(QRectF(barLeft + tickCentre(*row_.mark, barWidth) - 0.75, barTop - 2.5, 1.5, 10), 0.75,
                                0.75);
    }
}

}  // namespace keldwick
