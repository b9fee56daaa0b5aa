#pragma once
// Opening items and showing them in the desktop's file manager. Showing goes through the
// freedesktop file-manager interface on the session bus (org.freedesktop.FileManager1,
// which Nautilus, Dolphin, Nemo and Thunar offer); where no file manager answers, the
// folder is opened with the desktop's default application instead (xdg-open). Calls never
// wait: an answer, or its absence, arrives later on the main thread. When nothing could
// show or open the item, the user is told so (a warning beside the active window).

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
    // Opens the address with the desktop's default application, then calls `done` on the
    // main thread with whether that worked.
    using UrlOpener = std::function<void(const QUrl&, std::function<void(bool opened)> done)>;
    // Tells the user a sentence.
    using Reporter = std::function<void(const QString& message)>;

    // `bus` is where the file manager is asked; `openUrl` opens with the desktop's
    // default application (xdg-open unless a test hands another); `report` shows a
    // failure (a warning box unless a test hands another).
    explicit FileManager(QDBusConnection bus = QDBusConnection::sessionBus(), UrlOpener openUrl = {},
                         Reporter report = {}, QObject* parent = nullptr);

    // Shows the items selected in their folders. Without a file manager on the bus,
    // opens the folder of the first item. Nothing for an empty list.
    void showItems(const std::vector<std::string>& paths);
    // Shows the folders' contents. Without a file manager on the bus, opens each folder.
    void showFolders(const std::vector<std::string>& paths);
    // Opens the item with the desktop's default application.
    void open(const std::string& path);

    static QUrl urlFor(const std::string& path);
    // xdg-open, answering whether it opened the address (its exit status 0).
    static void openWithDesktop(const QUrl& url, std::function<void(bool opened)> done);
    // A warning box over the active window, not waited for.
    static void showWarning(const QString& message);

    // What the user reads when nothing showed `name`, or nothing opened it.
    static QString couldNotShowText(const QString& name);
    static QString couldNotOpenText(const QString& name);

signals:
    // A request went to the default application because the bus had no file manager
    // (or refused); `reason` is the bus's error.
    void fellBack(const QString& reason);
    // Nothing could show or open an item; `message` is what the user was told.
    void failed(const QString& message);

private:
    void ask(const QString& method, const std::vector<std::string>& paths, std::vector<QUrl> fallback);
    void openOrReport(const QUrl& url, const QString& failure);

    QDBusConnection bus_;
    UrlOpener openUrl_;
    Reporter report_;
};

}  // namespace keldwick
