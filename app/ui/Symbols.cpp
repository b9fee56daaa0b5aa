#include "ui/Symbols.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QPainter>
#include <QPainterPath>
#include <QPalette>
#include <QStandardPaths>

namespace keldwick::Symbols {

namespace {

// The pictures drawn when the theme has nothing.
enum class Shape { dot, drive, driveCross, drivePlus, computer, phone, folder, document, check, checkFilled, warning,
                   info, arrowRight, arrowLeft, lock, clock, gauge, plug, minus, gear, search, hand };

struct Entry {
    std::string_view symbol;
    Shape shape;
    QStringList names;
};

const std::vector<Entry>& table() {
    // Marks and signs (ticks, arrows, warnings) are always drawn: themes ship them as grey
    // "symbolic" or legacy pictures that Qt doesn't recolour, so they vanish on a dark
    // theme. Pictures of things (drives, folders, documents) come from the theme.
    static const std::vector<Entry> entries = {
        {"computer", Shape::computer, {"computer-laptop", "computer"}},
        {"application", Shape::computer, {"video-display", "computer"}},
        {"drive", Shape::drive, {"drive-harddisk-usb", "drive-removable-media", "drive-harddisk"}},
        {"drive-filled", Shape::drive, {"drive-harddisk-usb", "drive-removable-media", "drive-harddisk"}},
        {"drive-missing", Shape::driveCross, {"drive-removable-media", "drive-harddisk"}},
        {"drive-warning", Shape::drive, {"drive-removable-media", "drive-harddisk"}},
        {"drive-add", Shape::drivePlus, {"drive-removable-media", "drive-harddisk"}},
        {"drive-internal", Shape::drive, {"drive-harddisk"}},
        {"phone", Shape::phone, {"phone"}},
        {"devices", Shape::phone, {"phone", "multimedia-player"}},
        {"phone-basic", Shape::phone, {"phone"}},
        {"folder", Shape::folder, {"folder"}},
        {"doc", Shape::document, {"text-x-generic"}},
        {"document-recent", Shape::document, {"document-open-recent", "text-x-generic"}},
        {"image", Shape::document, {"image-x-generic"}},
        {"check", Shape::check, {}},
        {"check-filled", Shape::checkFilled, {}},
        {"shield-check", Shape::lock, {"security-high"}},
        {"shield-lock", Shape::lock, {"security-high"}},
        {"hand", Shape::hand, {}},
        {"warning-mark", Shape::warning, {}},
        {"warning", Shape::warning, {}},
        {"warning-filled", Shape::warning, {}},
        {"info", Shape::info, {}},
        {"info-filled", Shape::info, {}},
        {"arrow-right", Shape::arrowRight, {}},
        {"chevron-right", Shape::arrowRight, {}},
        {"chevron-left", Shape::arrowLeft, {}},
        {"undo", Shape::arrowLeft, {}},
        {"hourglass", Shape::clock, {}},
        {"history", Shape::clock, {}},
        {"gauge", Shape::gauge, {}},
        {"cable", Shape::plug, {}},
        {"minus", Shape::minus, {}},
        {"search", Shape::search, {}},
        {"test-tube", Shape::gauge, {"applications-science"}},
        {"settings", Shape::gear, {"preferences-system"}},
        {"sliders", Shape::gear, {"preferences-other", "preferences-system"}},
        {"brain", Shape::document, {"applications-science"}},
        {"library", Shape::document, {"package-x-generic"}},
        {"cloud-folder", Shape::folder, {"folder-remote", "network-server"}},
        {"code", Shape::document, {"text-x-script", "text-x-generic"}},
    };
    return entries;
}

const Entry* find(std::string_view symbol) {
    for (const Entry& entry : table()) {
        if (entry.symbol == symbol) return &entry;
    }
    return nullptr;
}

void drawShape(QPainter& p, Shape shape, const QColor& color) {
    // In a 16 × 16 box.
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(color, 1.4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    switch (shape) {
    case Shape::dot:
        p.setBrush(color);
        p.drawEllipse(QRectF(5, 5, 6, 6));
        break;
    case Shape::drive:
        p.drawRoundedRect(QRectF(2, 5, 12, 7), 2, 2);
        p.setBrush(color);
        p.drawEllipse(QRectF(10.5, 9, 1.6, 1.6));
        break;
    case Shape::driveCross:
    case Shape::drivePlus:
        // The drive lower and to the left, its badge in the upper right corner.
        p.drawRoundedRect(QRectF(1, 7, 11, 7), 2, 2);
        p.setBrush(color);
        p.drawEllipse(QRectF(8.8, 10.7, 1.6, 1.6));
        p.setBrush(Qt::NoBrush);
        if (shape == Shape::driveCross) {
            p.drawLine(QPointF(11, 1.5), QPointF(15, 5.5));
            p.drawLine(QPointF(15, 1.5), QPointF(11, 5.5));
        } else {
            p.drawLine(QPointF(13, 1), QPointF(13, 6.5));
            p.drawLine(QPointF(10.25, 3.75), QPointF(15.75, 3.75));
        }
        break;
    case Shape::computer:
        p.drawRoundedRect(QRectF(3, 3, 10, 7.5), 1, 1);
        p.drawLine(QPointF(1, 12.5), QPointF(15, 12.5));
        break;
    case Shape::phone:
        p.drawRoundedRect(QRectF(5, 1.5, 6, 13), 1.5, 1.5);
        break;
    case Shape::folder: {
        QPainterPath path;
        path.moveTo(1.5, 4);
        path.lineTo(6, 4);
        path.lineTo(7.5, 5.5);
        path.lineTo(14.5, 5.5);
        path.lineTo(14.5, 13);
        path.lineTo(1.5, 13);
        path.closeSubpath();
        p.drawPath(path);
        break;
    }
    case Shape::document:
        p.drawRect(QRectF(3.5, 1.5, 9, 13));
        p.drawLine(QPointF(5.5, 6), QPointF(10.5, 6));
        p.drawLine(QPointF(5.5, 9), QPointF(10.5, 9));
        break;
    case Shape::check:
        p.drawEllipse(QRectF(1.5, 1.5, 13, 13));
        p.drawPolyline(QPolygonF({QPointF(5, 8), QPointF(7.2, 10.5), QPointF(11, 5.5)}));
        break;
    case Shape::checkFilled:
        // The tick is cut out of the disc, so it shows whatever lies beneath.
        p.setPen(Qt::NoPen);
        p.setBrush(color);
        p.drawEllipse(QRectF(1, 1, 14, 14));
        p.setCompositionMode(QPainter::CompositionMode_Clear);
        p.setPen(QPen(Qt::black, 1.8, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.setBrush(Qt::NoBrush);
        p.drawPolyline(QPolygonF({QPointF(4.8, 8.2), QPointF(7.1, 10.6), QPointF(11.2, 5.4)}));
        p.setCompositionMode(QPainter::CompositionMode_SourceOver);
        break;
    case Shape::warning:
        p.drawPolygon(QPolygonF({QPointF(8, 1.5), QPointF(15, 14), QPointF(1, 14)}));
        p.drawLine(QPointF(8, 6), QPointF(8, 9.5));
        p.drawPoint(QPointF(8, 12));
        break;
    case Shape::info:
        p.drawEllipse(QRectF(1.5, 1.5, 13, 13));
        p.drawLine(QPointF(8, 7), QPointF(8, 11.5));
        p.drawPoint(QPointF(8, 4.8));
        break;
    case Shape::arrowRight:
        p.drawLine(QPointF(2.5, 8), QPointF(13, 8));
        p.drawPolyline(QPolygonF({QPointF(9, 4), QPointF(13, 8), QPointF(9, 12)}));
        break;
    case Shape::arrowLeft:
        p.drawLine(QPointF(3, 8), QPointF(13.5, 8));
        p.drawPolyline(QPolygonF({QPointF(7, 4), QPointF(3, 8), QPointF(7, 12)}));
        break;
    case Shape::lock:
        p.drawRoundedRect(QRectF(3, 7, 10, 7.5), 1, 1);
        p.drawArc(QRectF(5, 2, 6, 9), 0, 180 * 16);
        break;
    case Shape::clock:
        p.drawEllipse(QRectF(1.5, 1.5, 13, 13));
        p.drawPolyline(QPolygonF({QPointF(8, 4.5), QPointF(8, 8), QPointF(10.5, 9.5)}));
        break;
    case Shape::gauge:
        p.drawArc(QRectF(1.5, 3, 13, 13), 0, 180 * 16);
        p.drawLine(QPointF(8, 9.5), QPointF(5, 5.5));
        break;
    case Shape::plug:
        p.drawRoundedRect(QRectF(4.5, 5, 7, 6), 1, 1);
        p.drawLine(QPointF(6.5, 2), QPointF(6.5, 5));
        p.drawLine(QPointF(9.5, 2), QPointF(9.5, 5));
        p.drawLine(QPointF(8, 11), QPointF(8, 14.5));
        break;
    case Shape::minus:
        p.drawEllipse(QRectF(1.5, 1.5, 13, 13));
        p.drawLine(QPointF(5, 8), QPointF(11, 8));
        break;
    case Shape::gear:
        p.drawEllipse(QRectF(3, 3, 10, 10));
        p.drawEllipse(QRectF(6, 6, 4, 4));
        break;
    case Shape::search:
        p.setPen(QPen(color, 1.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.drawEllipse(QRectF(2, 2, 8.5, 8.5));
        p.drawLine(QPointF(9.6, 9.6), QPointF(14, 14));
        break;
    case Shape::hand: {
        // A raised open hand: four fingers over the palm, the thumb to the side.
        QPainterPath path;
        path.moveTo(4.5, 8.5);
        path.lineTo(4.5, 3.5);
        path.moveTo(6.8, 7.5);
        path.lineTo(6.8, 2);
        path.moveTo(9.1, 7.5);
        path.lineTo(9.1, 2.5);
        path.moveTo(11.4, 8);
        path.lineTo(11.4, 4);
        p.drawPath(path);
        QPainterPath palm;
        palm.moveTo(4.5, 8);
        palm.lineTo(4.5, 11);
        palm.cubicTo(4.5, 13.5, 6, 14.5, 8, 14.5);
        palm.cubicTo(10.5, 14.5, 11.4, 13, 11.4, 11);
        palm.lineTo(11.4, 8);
        palm.moveTo(11.4, 11);
        palm.lineTo(13.6, 8.2);
        p.drawPath(palm);
        break;
    }
    }
}

}  // namespace

QStringList themeNames(std::string_view symbol) {
    const Entry* entry = find(symbol);
    return entry ? entry->names : QStringList();
}

QIcon drawn(std::string_view symbol, const QColor& color) {
    const Entry* entry = find(symbol);
    const Shape shape = entry ? entry->shape : Shape::dot;
    const QColor ink = color.isValid() ? color : QGuiApplication::palette().color(QPalette::WindowText);
    // Tables ask for their symbols on every repaint.
    static QHash<QPair<int, QRgb>, QIcon> cache;
    const QPair<int, QRgb> key(static_cast<int>(shape), ink.rgba());
    if (auto found = cache.constFind(key); found != cache.constEnd()) return *found;
    QIcon icon;
    for (int size : {16, 24, 32, 48}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.scale(size / 16.0, size / 16.0);
        drawShape(painter, shape, ink);
        painter.end();
        icon.addPixmap(pixmap);
    }
    cache.insert(key, icon);
    return icon;
}

QIcon icon(std::string_view symbol) {
    for (const QString& name : themeNames(symbol)) {
        if (QIcon::hasThemeIcon(name)) return QIcon::fromTheme(name);
    }
    return drawn(symbol);
}

void useDesktopIconTheme() {
    QStringList paths = QIcon::themeSearchPaths();
    for (const QString& data : QStandardPaths::standardLocations(QStandardPaths::GenericDataLocation)) {
        const QString icons = QDir(data).filePath(QStringLiteral("icons"));
        if (!paths.contains(icons) && QDir(icons).exists()) paths.append(icons);
    }
    QIcon::setThemeSearchPaths(paths);
    const QString theme = QIcon::themeName();
    if (!theme.isEmpty() && theme != QStringLiteral("hicolor")) return;
    for (const QString& name : {QStringLiteral("Adwaita"), QStringLiteral("breeze"), QStringLiteral("hicolor")}) {
        for (const QString& path : paths) {
            if (QFileInfo::exists(QDir(path).filePath(name + QStringLiteral("/index.theme")))) {
                QIcon::setThemeName(name);
                return;
            }
        }
    }
}

}  // namespace keldwick::Symbols
