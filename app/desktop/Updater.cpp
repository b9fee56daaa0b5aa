#include "desktop/Updater.h"

#include "foundation/Log.h"
#include "foundation/PrivateFolder.h"
#include "foundation/SettingsFile.h"
#include "model/MainThread.h"
#include "platform/Users.h"

#include <QSettings>

#include <QUrl>

#ifndef KELDWICK_SU_FEED_URL
#define KELDWICK_SU_FEED_URL ""
#endif
#ifndef KELDWICK_SU_PUBLIC_ED_KEY
#define KELDWICK_SU_PUBLIC_ED_KEY ""
#endif
#ifndef KELDWICK_VERSION
#define KELDWICK_VERSION ""
#endif

namespace keldwick {

namespace {

QString stringEntry(const QVariantMap& info, const QString& key) {
    auto found = info.find(key);
    if (found == info.end() || found->typeId() != QMetaType::QString) {
        return QString();
    }
    return found->toString();
}

}  // namespace

QVariantMap bundleInfo() {
    QVariantMap info;
    const QString feed = QStringLiteral(KELDWICK_SU_FEED_URL), key = QStringLiteral(KELDWICK_SU_PUBLIC_ED_KEY);
    if (!feed.isEmpty()) {
        info.insert(QStringLiteral("SUFeedURL"), feed);
    }
    if (!key.isEmpty()) {
        info.insert(QStringLiteral("SUPublicEDKey"), key);
    }
    const QString version = QStringLiteral(KELDWICK_VERSION);
    if (!version.isEmpty()) {
        info.insert(QStringLiteral("CFBundleShortVersionString"), version);
        info.insert(QStringLiteral("CFBundleVersion"), version);
    }
    return info;
}

std::unique_ptr<QSettings> updaterStore(const std::string& configFolder) {
    const std::string path = configFolder + "/Keldwick.conf";
    // The toolkit would block for good reading a FIFO, or take the memory of a huge file:
    // such a file is set aside (when the start has not done so already), and one that
    // can't be moved leaves the switches unsaved for this run.
    if (!SettingsFile::prepare(path).usable) {
        Log::error("updates", "The update settings file can't be used: " + path);
        return nullptr;
    }
    try {
        PrivateFolder::secure(configFolder);
        PrivateFolder::createFile(path);
    } catch (const std::exception& error) {
        // The switches still work for this run; the toolkit says why they weren't kept.
        Log::error("updates", std::string("The update settings file can't be made private: ") + error.what());
    }
    return std::make_unique<QSettings>(QString::fromStdString(path), QSettings::IniFormat);
}

bool updatesConfigured(const QVariantMap& info) {
    const QString feed = stringEntry(info, QStringLiteral("SUFeedURL"));
    const QString key = stringEntry(info, QStringLiteral("SUPublicEDKey"));
    QUrl url(feed, QUrl::StrictMode);
    return !key.isEmpty() && url.isValid() && !url.host().isEmpty() && !feed.contains(QStringLiteral("YOUR-SITE"));
}

QString appVersionText(const QVariantMap& info) {
    QString shortVersion = stringEntry(info, QStringLiteral("CFBundleShortVersionString"));
    QString build = stringEntry(info, QStringLiteral("CFBundleVersion"));
    return (shortVersion.isEmpty() ? QStringLiteral("?") : shortVersion) + QStringLiteral(" (") +
           (build.isEmpty() ? QStringLiteral("?") : build) + QStringLiteral(")");
}

Updater::Updater(const QVariantMap& info, SelfInstall::Installation installation, QSettings* store, QObject* parent)
    : QObject(parent), installation_(std::move(installation)) {
    assertMainThread();
    isConfigured_ = updatesConfigured(info);
    const QString publicKey = stringEntry(info, QStringLiteral("SUPublicEDKey"));
    controller_ = std::make_unique<UpdateController>(
        QUrl(stringEntry(info, QStringLiteral("SUFeedURL"))), publicKey,
        stringEntry(info, QStringLiteral("CFBundleVersion")), static_cast<UpdateUserDriverDelegate*>(this), store);
    if (installation_.prefix) {
        controller_->setInstaller([prefix = *installation_.prefix, publicKey, uid = platform::effectiveUserID()](
                                      const AppcastItem& update, const QByteArray& archive) {
            return SelfInstall::install(prefix, archive, update.signature, publicKey, update.version.toStdString(), uid);
        });
    }
    if (isConfigured_) {
        controller_->startUpdater();
        connect(controller_.get(), &UpdateController::canCheckForUpdatesChanged, this,
                &Updater::setCanCheckForUpdates);
        setCanCheckForUpdates(controller_->canCheckForUpdates());
    }
}

bool Updater::supportsGentleScheduledUpdateReminders() {
    return true;
}

bool Updater::standardUserDriverShouldHandleShowingScheduledUpdate(const AppcastItem&, bool immediateFocus) {
    return immediateFocus;
}

void Updater::standardUserDriverWillHandleShowingUpdate(bool handleShowingUpdate, const AppcastItem& update) {
    assertMainThread();
    if (!handleShowingUpdate) {
        setAvailableUpdate(update.displayVersion);
    }
}

void Updater::standardUserDriverDidReceiveUserAttentionForUpdate(const AppcastItem&) {
    assertMainThread();
    setAvailableUpdate(std::nullopt);
}

void Updater::standardUserDriverWillFinishUpdateSession() {
    assertMainThread();
    setAvailableUpdate(std::nullopt);
}

void Updater::setAvailableUpdate(std::optional<QString> value) {
    if (availableUpdate_ != value) {
        availableUpdate_ = std::move(value);
        emit availableUpdateChanged();
    }
}

void Updater::setCanCheckForUpdates(bool value) {
    if (canCheckForUpdates_ != value) {
        canCheckForUpdates_ = value;
        emit canCheckForUpdatesChanged();
    }
}

}  // namespace keldwick
