#include "menubar/MenuBarGlyph.h"

#include <QHash>
#include <QPainter>
#include <QPainterPath>
#include <QPalette>
#include <QPixmap>

#include "desktop/MainThread.h"

namespace keldwick::MenuBarGlyph {

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

// Sizes tray hosts ask for (XEmbed trays often 22 or 24, StatusNotifier hosts up to 64).
constexpr int iconSizes[] = {16, 22, 24, 32, 48, 64};

}  // namespace

Tone toneFor(const QPalette& palette) {
    return palette.color(QPalette::Window).lightness() < 128 ? Tone::light : Tone::dark;
}

QColor colorOf(Tone tone) { return tone == Tone::light ? QColor(Qt::white) : QColor(Qt::black); }

void paint(QPainter& painter, const Picture& picture, const QColor& color) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);

    // The container: open at the top, rounded at the bottom corners.
    QPainterPath container;
    container.moveTo(2.75, 2.25);
    container.lineTo(2.75, 12.75);
    container.arcTo(QRectF(2.75, 9.75, 6, 6), 180, 90);
    container.lineTo(9.75, 15.75);
    container.arcTo(QRectF(6.75, 9.75, 6, 6), 270, 90);
    container.lineTo(12.75, 2.25);
    painter.setPen(QPen(color, 1.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(container);

    painter.setPen(Qt::NoPen);
    painter.setBrush(color);
    if (picture.contents) painter.drawRoundedRect(toQt(*picture.contents), 1.4, 1.4);

    for (const Oval& oval : picture.marks) {
        if (oval.filled) {
            painter.setPen(Qt::NoPen);
            painter.setBrush(color);
        } else {
            painter.setPen(QPen(color, oval.lineWidth));
            painter.setBrush(Qt::NoBrush);
        }
        painter.drawEllipse(toQt(oval.rect));
    }
    painter.restore();
}

QImage render(const Picture& picture, Tone tone, double scale) {
    QImage image(qCeil(width * scale), qCeil(height * scale), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.scale(scale, scale);
    paint(painter, picture, colorOf(tone));
    return image;
}

QIcon image(double fill, Mark mark, Tone tone) {
    assertMainThread();
    static QHash<Key, QIcon> cache;
    const Key key{fillStep(fill), mark, tone};
    if (auto found = cache.constFind(key); found != cache.constEnd()) return *found;

    const Picture drawn = picture(fill, mark);
    QIcon icon;
    for (int size : iconSizes) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        // The 20 × 18 box centred in a square a point wider than the glyph.
        const double scale = size / (width + 2);
        painter.translate((size - width * scale) / 2, (size - height * scale) / 2);
        painter.scale(scale, scale);
        paint(painter, drawn, colorOf(tone));
        painter.end();
        icon.addPixmap(pixmap);
    }
    cache.insert(key, icon);
    return icon;
}

}  // namespace keldwick::MenuBarGlyph
