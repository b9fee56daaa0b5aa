// Writes the program's icon, the tray glyph half full in the brand colour, as PNGs into
// a freedesktop icon theme folder: <folder>/<size>x<size>/apps/keldwick.png. Run at
// installation, so the icon is drawn by the same code as the tray.

#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QtGlobal>

#include "tray/TrayGlyph.h"

using namespace keldwick;

int main(int argc, char** argv) {
    if (argc != 2) {
        qCritical("usage: keldwick_icons THEME-FOLDER");
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QString folder = QFile::decodeName(argv[1]);
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
        const QString apps = QStringLiteral("%1/%2x%2/apps").arg(folder).arg(size);
        const QString file = apps + QStringLiteral("/keldwick.png");
        if (!QDir().mkpath(apps) || !TrayGlyph::programImage(size).save(file, "PNG")) {
            qCritical("keldwick_icons: can't write %s", qPrintable(file));
            return 1;
        }
    }
    return 0;
}
