#include "ui/FileManager.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDesktopServices>

#include "foundation/PathUtil.h"
#include "ui/PlainText.h"

namespace keldwick {

namespace {

// Long enough for a file manager started on demand by the bus.
constexpr int callTimeoutMs = 10'000;

}  // namespace

FileManager::FileManager(QDBusConnection bus, UrlOpener openUrl, QObject* parent)
    : QObject(parent), bus_(std::move(bus)), openUrl_(std::move(openUrl)) {
    if (!openUrl_) openUrl_ = [](const QUrl& url) { return QDesktopServices::openUrl(url); };
}

QUrl FileManager::urlFor(const std::string& path) { return QUrl::fromLocalFile(fromPath(path)); }

void FileManager::showItems(const std::vector<std::string>& paths) {
    if (paths.empty()) return;
    ask(QStringLiteral("ShowItems"), paths, {urlFor(PathUtil::parent(paths.front()))});
}

void FileManager::showFolders(const std::vector<std::string>& paths) {
    if (paths.empty()) return;
    std::vector<QUrl> fallback;
    for (const std::string& path : paths) fallback.push_back(urlFor(path));
    ask(QStringLiteral("ShowFolders"), paths, std::move(fallback));
}

bool FileManager::open(const std::string& path) { return openUrl_(urlFor(path)); }

void FileManager::ask(const QString& method, const std::vector<std::string>& paths, std::vector<QUrl> fallback) {
    auto useFallback = [this, fallback](const QString& reason) {
        for (const QUrl& url : fallback) openUrl_(url);
        emit fellBack(reason);
    };
    if (!bus_.isConnected()) {
        useFallback(QStringLiteral("no session bus"));
        return;
    }
    QStringList uris;
    for (const std::string& path : paths) uris.append(urlFor(path).toString(QUrl::FullyEncoded));
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("/org/freedesktop/FileManager1"),
        QStringLiteral("org.freedesktop.FileManager1"), method);
    call << uris << QString();  // no startup notification id
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(call, callTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [watcher, useFallback] {
        watcher->deleteLater();
        if (watcher->isError()) useFallback(watcher->error().message());
    });
}

}  // namespace keldwick
