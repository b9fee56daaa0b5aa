#include "tray/TrayGlyph.h"

#include <QHash>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

#include "model/MainThread.h"
#include "ui/Brand.h"

namespace keldwick::TrayGlyph {

namespace {

struct Key {
    int64_t step;
    Mark mark;
    Tone tone;
    bool operator==(const Key&) const = default;
};

size_t qHash(const Key& key, size_t seed = 0) {
    return qHashMulti(seed, key.step, static_cast<int>(key.mark.kind), key.mark.frame, static_cast<int>(key.tone));
}

QRectF toQt(const Rect& rect) { return {rect.x, rect.y, rect.w, rect.h}; }

// Sizes tray hosts ask for (XEmbed trays often 22 or 24, StatusNotifier hosts up to 64),
// and the same at twice the pixels for scaled screens.
constexpr int iconSizes[] = {16, 22, 24, 32, 44, 48, 64};

// The shapes in one colour; `grow` widens every one of them by that many points a side.
void paintShapes(QPainter& painter, const Picture& picture, const QColor& color, double grow) {
    // The container: open at the top, rounded at the bottom corners.
    QPainterPath container;
    container.moveTo(2.75, 2.25);
    container.lineTo(2.75, 12.75);
    container.arcTo(QRectF(2.75, 9.75, 6, 6), 180, 90);
    container.lineTo(9.75, 15.75);
    container.arcTo(QRectF(6.75, 9.75, 6, 6), 270, 90);
    container.lineTo(12.75, 2.25);
    painter.setPen(QPen(color, 1.5 + 2 * grow, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(container);

    // Filled shapes grow by a stroke of twice the width around them.
    const QPen filledPen = grow > 0 ? QPen(color, 2 * grow, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin) : QPen(Qt::NoPen);
    painter.setPen(filledPen);
    painter.setBrush(color);
    if (picture.contents) painter.drawRoundedRect(toQt(*picture.contents), 1.4, 1.4);

    for (const Oval& oval : picture.marks) {
        if (oval.filled) {
            painter.setPen(filledPen);
            painter.setBrush(color);
        } else {
            painter.setPen(QPen(color, oval.lineWidth + 2 * grow));
            painter.setBrush(Qt::NoBrush);
        }
        painter.drawEllipse(toQt(oval.rect));
    }
}

}  // namespace

Tone toneFor(std::optional<QColor> panel) {
    if (!panel || !panel->isValid()) return Tone::outlined;
    const double luminance = 0.2126 * panel->redF() + 0.7152 * panel->greenF() + 0.0722 * panel->blueF();
    return luminance >= 0.5 ? Tone::dark : Tone::light;
}

QColor colorOf(Tone tone) { return tone == Tone::light ? QColor(Qt::white) : QColor(Qt::black); }

QColor outlineOf(Tone tone) { return tone == Tone::outlined ? QColor(Qt::white) : QColor(); }

void paint(QPainter& painter, const Picture& picture, const QColor& color, const QColor& outline,
           double outlineWidth) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    if (outline.isValid() && outlineWidth > 0) paintShapes(painter, picture, outline, outlineWidth);
    paintShapes(painter, picture, color, 0);
    painter.restore();
}

QImage render(const Picture& picture, Tone tone, double scale) {
    QImage image(qCeil(width * scale), qCeil(height * scale), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.scale(scale, scale);
    paint(painter, picture, colorOf(tone), outlineOf(tone), 1 / scale);
    return image;
}

QImage trayImage(const Picture& picture, Tone tone, int size) {
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    // The ink spans x 1.5 to 19.7 of the box: as wide as the square leaves the marks
    // as large as the square allows.
    const double scale = size / width;
    painter.translate(0, (size - height * scale) / 2);
    painter.scale(scale, scale);
    paint(painter, picture, colorOf(tone), outlineOf(tone), 1 / scale);
    return image;
}

QIcon image(double fill, Mark mark, Tone tone) {
    assertMainThread();
    static QHash<Key, QIcon> cache;
    const Key key{fillStep(fill), mark, tone};
    if (auto found = cache.constFind(key); found != cache.constEnd()) return *found;

    const Picture drawn = picture(fill, mark);
    QIcon icon;
    for (int size : iconSizes) icon.addPixmap(QPixmap::fromImage(trayImage(drawn, tone, size)));
    cache.insert(key, icon);
    return icon;
}

QImage programImage(int size) {
    constexpr double containerLeft = 2.0, containerRight = 13.5, span = 17.0;
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    const double scale = size / span;
    painter.scale(scale, scale);
    painter.translate((span - (containerLeft + containerRight)) / 2, (span - height) / 2);
    paint(painter, picture(0.5, Mark{}), brandOrange());
    return image;
}

QIcon programIcon() {
    QIcon icon;
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256}) icon.addPixmap(QPixmap::fromImage(programImage(size)));
    return icon;
}

}  // namespace keldwick::TrayGlyph
