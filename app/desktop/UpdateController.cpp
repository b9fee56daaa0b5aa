#include "desktop/UpdateController.h"

#include "desktop/EdSignature.h"
#include "model/BackgroundExecutor.h"
#include "model/MainThread.h"

#include <QDesktopServices>
#include <QGuiApplication>
#include <QNetworkReply>
#include <QNetworkRequest>

namespace keldwick {

namespace {

const std::string automaticKey = "updates/automaticallyChecks";
const std::string downloadsKey = "updates/automaticallyDownloads";
constexpr int firstCheckMs = 60 * 1000;
constexpr int checkIntervalMs = 86400 * 1000;
constexpr int transferTimeoutMs = 60 * 1000;

// What the updater opens or downloads comes only over https: a feed may be replayed with
// a genuinely signed archive, and its links must not send the user to a local file, a
// share or a page anyone on the way could change.
bool isHttps(const QUrl& url) {
    return url.isValid() && url.scheme() == QStringLiteral("https") && !url.host().isEmpty();
}

QString notHttps(const QUrl& url) {
    return QStringLiteral("%1 isn't an https address").arg(url.toDisplayString());
}

}  // namespace

UpdateController::UpdateController(QUrl feed, QString publicKey, QString currentVersion,
                                   UpdateUserDriverDelegate* delegate, std::shared_ptr<Preferences> store, QObject* parent)
    : QObject(parent),
      openPage([](const QUrl& url) { QDesktopServices::openUrl(url); }),
      hasFocus([] { return QGuiApplication::applicationState() == Qt::ApplicationActive; }),
      feed_(std::move(feed)),
      publicKey_(std::move(publicKey)),
      currentVersion_(std::move(currentVersion)),
      delegate_(delegate),
      store_(std::move(store)),
      relay_(this),
      work_(ThreadPoolExecutor::shared(), relay_.shared()) {
    assertMainThread();
    if (store_ != nullptr) {
        automaticChecks_ = store_->value(automaticKey).value_or("true") == "true";
        automaticDownloads_ = store_->value(downloadsKey).value_or("false") == "true";
    }
    timer_.setSingleShot(true);
    connect(&timer_, &QTimer::timeout, this, [this] {
        checkForUpdatesInBackground();
        timer_.start(checkIntervalMs);
    });
}

void UpdateController::startUpdater() {
    assertMainThread();
    if (started_) {
        return;
    }
    started_ = true;
    setCanCheck(true);
    schedule();
}

void UpdateController::schedule() {
    if (started_ && automaticChecks_) {
        if (!timer_.isActive()) {
            timer_.start(firstCheckMs);
        }
    } else {
        timer_.stop();
    }
}

bool UpdateController::automaticallyChecksForUpdates() const {
    return automaticChecks_;
}

void UpdateController::setAutomaticallyChecksForUpdates(bool on) {
    assertMainThread();
    automaticChecks_ = on;
    if (store_ != nullptr) {
        store_->setValue(automaticKey, on ? "true" : "false");
    }
    schedule();
}

void UpdateController::setInstaller(Installer installer) {
    assertMainThread();
    installer_ = std::move(installer);
}

bool UpdateController::automaticallyDownloadsUpdates() const {
    return automaticDownloads_ && canInstall();
}

void UpdateController::setAutomaticallyDownloadsUpdates(bool on) {
    assertMainThread();
    automaticDownloads_ = on;
    if (store_ != nullptr) {
        store_->setValue(downloadsKey, on ? "true" : "false");
    }
}

void UpdateController::checkForUpdates() {
    assertMainThread();
    // An update found already is shown as it is, not looked for and downloaded again.
    if (found_ && started_ && !checking_ && !installing_) {
        userInitiated_ = true;
        delegate_->standardUserDriverWillHandleShowingUpdate(true, *found_);
        emit updateShown(*found_);
        return;
    }
    check(true);
}

void UpdateController::checkForUpdatesInBackground() {
    check(false);
}

void UpdateController::check(bool userInitiated) {
    assertMainThread();
    if (!started_ || checking_ || installing_) {
        return;
    }
    checking_ = true;
    userInitiated_ = userInitiated;
    setCanCheck(false);
    fetch(
        feed_, feedLimit, [this](const QByteArray& feed) { feedArrived(feed); },
        [this](const QString& error) { fail(QStringLiteral("Keldwick couldn't check for updates: ") + error); });
}

void UpdateController::fetch(const QUrl& url, qint64 limit, std::function<void(QByteArray)> then,
                             std::function<void(QString)> failed) {
    QNetworkRequest request(url);
    request.setTransferTimeout(transferTimeoutMs);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::UserVerifiedRedirectPolicy);
    QNetworkReply* reply = network_.get(request);
    auto tooLarge = std::make_shared<bool>(false);
    auto offHttps = std::make_shared<QUrl>();
    connect(reply, &QNetworkReply::redirected, reply, [reply, offHttps](const QUrl& target) {
        if (isHttps(target)) {
            emit reply->redirectAllowed();
        } else {
            *offHttps = target;
            reply->abort();
        }
    });
    connect(reply, &QNetworkReply::downloadProgress, reply, [reply, limit, tooLarge](qint64 received, qint64) {
        if (received > limit && !*tooLarge) {
            *tooLarge = true;
            reply->abort();
        }
    });
    connect(reply, &QNetworkReply::finished, this,
            [reply, limit, tooLarge, offHttps, then = std::move(then), failed = std::move(failed)] {
                reply->deleteLater();
                if (!offHttps->isEmpty()) {
                    failed(QStringLiteral("it was sent on to %1, which isn't an https address")
                               .arg(offHttps->toDisplayString()));
                } else if (*tooLarge) {
                    failed(QStringLiteral("%1 is larger than %2 bytes").arg(reply->url().toDisplayString()).arg(limit));
                } else if (reply->error() != QNetworkReply::NoError) {
                    failed(reply->errorString());
                } else {
                    then(reply->readAll());
                }
            });
}

void UpdateController::feedArrived(const QByteArray& feed) {
    std::optional<AppcastItem> update;
    try {
        update = Appcast::newest(Appcast::parse(feed), currentVersion_);
    } catch (const AppcastError& error) {
        fail(QStringLiteral("The update feed can't be read: ") + QString::fromStdString(error.what()));
        return;
    }
    if (!update) {
        if (userInitiated_) {
            emit noUpdateFound();
        }
        finish();
        return;
    }
    if (update->signature.isEmpty()) {
        fail(QStringLiteral("Keldwick %1 isn't signed, so it won't be offered.").arg(update->displayVersion));
        return;
    }
    if (!isHttps(update->archive)) {
        fail(QStringLiteral("Keldwick %1 won't be downloaded: %2.").arg(update->displayVersion, notHttps(update->archive)));
        return;
    }
    if (!update->link.isEmpty() && !isHttps(update->link)) {
        fail(QStringLiteral("Keldwick %1 won't be offered: its page %2.").arg(update->displayVersion, notHttps(update->link)));
        return;
    }
    fetch(
        update->archive, archiveLimit,
        [this, update = *update](const QByteArray& archive) { archiveArrived(update, archive); },
        [this](const QString& error) { fail(QStringLiteral("The update couldn't be downloaded: ") + error); });
}

void UpdateController::archiveArrived(const AppcastItem& update, const QByteArray& archive) {
    if ((update.length >= 0 && update.length != archive.size()) ||
        !EdSignature::verify(archive, update.signature, publicKey_)) {
        fail(QStringLiteral("The download of Keldwick %1 doesn't match its signature, so it won't be offered.")
                 .arg(update.displayVersion));
        return;
    }
    found_ = update;
    archive_ = archive;
    if (automaticallyDownloadsUpdates()) {
        // Installed without asking; the user is offered the relaunch once it is in place.
        checking_ = false;
        delegate_->standardUserDriverDidReceiveUserAttentionForUpdate(update);
        startInstall(update, archive);
        dismissUpdate();
        return;
    }
    bool handleShowing = true;
    if (!userInitiated_ && delegate_->supportsGentleScheduledUpdateReminders()) {
        handleShowing = delegate_->standardUserDriverShouldHandleShowingScheduledUpdate(update, hasFocus());
    }
    delegate_->standardUserDriverWillHandleShowingUpdate(handleShowing, update);
    finish();
    if (handleShowing) {
        emit updateShown(update);
    }
}

void UpdateController::installUpdate() {
    assertMainThread();
    if (!found_) {
        return;
    }
    AppcastItem update = *found_;
    delegate_->standardUserDriverDidReceiveUserAttentionForUpdate(update);
    if (canInstall()) {
        startInstall(update, archive_);
    } else {
        openPage(update.link.isEmpty() ? update.archive : update.link);
    }
    dismissUpdate();
}

void UpdateController::startInstall(const AppcastItem& update, const QByteArray& archive) {
    if (installing_) {
        return;
    }
    installing_ = true;
    setCanCheck(false);
    work_.run<std::string>(
        WorkPriority::user, [install = installer_, update, archive] { return install(update, archive); },
        [this, update](EngineOutcome<std::string> outcome) {
            installing_ = false;
            setCanCheck(started_ && !checking_);
            if (outcome.succeeded()) {
                // The installed version is the one later checks compare with: it is what
                // runs after the relaunch, so it is never offered again.
                currentVersion_ = update.version;
                emit updateInstalled(update, QString::fromStdString(*outcome.value));
            } else {
                emit installFailed(QString::fromStdString(outcome.errorText()));
            }
        });
}

void UpdateController::dismissUpdate() {
    assertMainThread();
    if (!found_) {
        return;
    }
    found_.reset();
    archive_.clear();
    delegate_->standardUserDriverWillFinishUpdateSession();
}

void UpdateController::fail(const QString& message) {
    finish();
    emit checkFailed(message);
}

void UpdateController::finish() {
    checking_ = false;
    setCanCheck(!installing_);
}

void UpdateController::setCanCheck(bool value) {
    if (canCheck_ != value) {
        canCheck_ = value;
        emit canCheckForUpdatesChanged(value);
    }
}

}  // namespace keldwick
