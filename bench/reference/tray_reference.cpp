// The smallest Qt 6 Widgets tray program: an icon in the tray with a one-entry menu, and
// nothing else. The program benchmark runs it beside the real program so that its memory
// and idle CPU have a floor measured on the same machine, in the same run.

#include <QApplication>
#include <QMenu>
#include <QPainter>
#include <QPixmap>
#include <QSystemTrayIcon>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    app.setQuitOnLastWindowClosed(false);
    QPixmap picture(22, 22);
    picture.fill(Qt::transparent);
    {
        QPainter painter(&picture);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setBrush(Qt::black);
        painter.drawEllipse(3, 3, 16, 16);
    }
    QMenu menu;
    menu.addAction(QStringLiteral("Quit"), &app, &QApplication::quit);
    QSystemTrayIcon icon{QIcon(picture)};
    icon.setToolTip(QStringLiteral("Reference"));
    icon.setContextMenu(&menu);
    icon.show();
    return app.exec();
}
