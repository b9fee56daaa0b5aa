// Writes the program's icon, the tray glyph half full in the brand colour, as PNGs into
// a freedesktop icon theme folder: <folder>/<size>x<size>/apps/keldwick.png. Run at
// installation, so the icon is drawn by the same code as the tray.

#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <cstdio>

#include "menubar/MenuBarGlyph.h"
#include "ui/Brand.h"

using namespace keldwick;

namespace {

// The container alone (the marks' room beside it left out) centred in the square.
QImage icon(const MenuBarGlyph::Picture& picture, int size) {
    constexpr double containerLeft = 2.0, containerRight = 13.5, span = 17.0;
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    const double scale = size / span;
    painter.scale(scale, scale);
    painter.translate((span - (containerLeft + containerRight)) / 2, (span - MenuBarGlyph::height) / 2);
    MenuBarGlyph::paint(painter, picture, brandOrange());
    return image;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: keldwick_icons THEME-FOLDER\n");
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QString folder = QFile::decodeName(argv[1]);
    const MenuBarGlyph::Picture picture = MenuBarGlyph::picture(0.5, MenuBarGlyph::Mark{});
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
        const QString apps = QStringLiteral("%1/%2x%2/apps").arg(folder).arg(size);
        const QString file = apps + QStringLiteral("/keldwick.png");
        if (!QDir().mkpath(apps) || !icon(picture, size).save(file, "PNG")) {
            std::fprintf(stderr, "keldwick_icons: can't write %s\n", qPrintable(file));
            return 1;
        }
    }
    return 0;
}
