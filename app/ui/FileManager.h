#pragma once
// Opening items and showing them in the desktop's file manager. Showing goes through the
// freedesktop file-manager interface on the session bus (org.freedesktop.FileManager1,
// which Nautilus, Dolphin, Nemo and Thunar offer); where no file manager answers, the
// folder is opened with the desktop's default application instead. Calls never wait on
// the bus: an answer, or its absence, arrives later on the main thread.

#include <QDBusConnection>
#include <QObject>
#include <QUrl>
#include <functional>
#include <string>
#include <vector>

namespace keldwick {

class FileManager final : public QObject {
    Q_OBJECT

public:
    using UrlOpener = std::function<bool(const QUrl&)>;

    // `bus` is where the file manager is asked; `openUrl` opens with the desktop's
    // default application (QDesktopServices::openUrl unless a test hands another).
    explicit FileManager(QDBusConnection bus = QDBusConnection::sessionBus(), UrlOpener openUrl = {},
                         QObject* parent = nullptr);

    // Shows the items selected in their folders. Without a file manager on the bus,
    // opens the folder of the first item. Nothing for an empty list.
    void showItems(const std::vector<std::string>& paths);
    // Shows the folders' contents. Without a file manager on the bus, opens each folder.
    void showFolders(const std::vector<std::string>& paths);
    // Opens the item with the desktop's default application; false when that failed.
    bool open(const std::string& path);

    static QUrl urlFor(const std::string& path);

signals:
    // A request went to the default application because the bus had no file manager
    // (or refused); `reason` is the bus's error.
    void fellBack(const QString& reason);

private:
    void ask(const QString& method, const std::vector<std::string>& paths, std::vector<QUrl> fallback);

    QDBusConnection bus_;
    UrlOpener openUrl_;
};

}  // namespace keldwick
