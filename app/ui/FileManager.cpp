#include "ui/FileManager.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QProcess>
#include <QTimer>

#include "foundation/PathUtil.h"
#include "ui/PlainText.h"

namespace keldwick {

namespace {

// Long enough for a file manager started on demand by the bus.
constexpr int callTimeoutMs = 10'000;
// xdg-open normally hands over and ends at once; one still running after this has
// started a program in its own place, which counts as opened.
constexpr int xdgOpenPatienceMs = 10'000;

}  // namespace

FileManager::FileManager(QDBusConnection bus, UrlOpener openUrl, Reporter report, QObject* parent)
    : QObject(parent), bus_(std::move(bus)), openUrl_(std::move(openUrl)), report_(std::move(report)) {
    if (!openUrl_) openUrl_ = &FileManager::openWithDesktop;
    if (!report_) report_ = &FileManager::showWarning;
}

QUrl FileManager::urlFor(const std::string& path) { return QUrl::fromLocalFile(fromPath(path)); }

QString FileManager::couldNotShowText(const QString& name) {
    return QStringLiteral("Couldn't open a file manager to show %1. No file manager answered, and no application "
                          "is set up to open folders.")
        .arg(quoted(name));
}

QString FileManager::couldNotOpenText(const QString& name) {
    return QStringLiteral("Couldn't open %1. No application is set up to open it.").arg(quoted(name));
}

void FileManager::openWithDesktop(const QUrl& url, std::function<void(bool opened)> done) {
    auto* process = new QProcess;
    auto answered = std::make_shared<bool>(false);
    auto answer = [done = std::move(done), answered](bool opened) {
        if (*answered) return;
        *answered = true;
        done(opened);
    };
    QObject::connect(process, &QProcess::finished, process, [process, answer](int status, QProcess::ExitStatus how) {
        answer(how == QProcess::NormalExit && status == 0);
        process->deleteLater();
    });
    QObject::connect(process, &QProcess::errorOccurred, process, [process, answer](QProcess::ProcessError error) {
        if (error != QProcess::FailedToStart) return;
        answer(false);
        process->deleteLater();
    });
    QTimer::singleShot(xdgOpenPatienceMs, process, [answer] { answer(true); });
    // Its complaints are the user's message now, not noise on the terminal.
    process->setStandardOutputFile(QProcess::nullDevice());
    process->setStandardErrorFile(QProcess::nullDevice());
    process->start(QStringLiteral("xdg-open"), {url.toString(QUrl::FullyEncoded)});
}

void FileManager::showWarning(const QString& message) {
    auto* box = new QMessageBox(QMessageBox::Warning, QStringLiteral("Keldwick"), message, QMessageBox::Ok,
                                QApplication::activeWindow());
    box->setTextFormat(Qt::PlainText);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setAccessibleName(QStringLiteral("Keldwick"));
    box->open();
}

void FileManager::openOrReport(const QUrl& url, const QString& failure) {
    QPointer<FileManager> self(this);
    openUrl_(url, [self, failure](bool opened) {
        if (opened || !self) return;
        self->report_(failure);
        emit self->failed(failure);
    });
}

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

void FileManager::open(const std::string& path) {
    openOrReport(urlFor(path), couldNotOpenText(fromPath(PathUtil::name(path))));
}

void FileManager::ask(const QString& method, const std::vector<std::string>& paths, std::vector<QUrl> fallback) {
    // The user asked to see these items: a failure names the first of them.
    const QString failure = couldNotShowText(fromPath(PathUtil::name(paths.front())));
    auto useFallback = [this, fallback, failure](const QString& reason) {
        emit fellBack(reason);
        // Several folders that fail alike are told once.
        auto told = std::make_shared<bool>(false);
        QPointer<FileManager> self(this);
        for (const QUrl& url : fallback) {
            openUrl_(url, [self, failure, told](bool opened) {
                if (opened || !self || *told) return;
                *told = true;
                self->report_(failure);
                emit self->failed(failure);
            });
        }
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
