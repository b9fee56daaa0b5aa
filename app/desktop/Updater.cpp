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

UpdaterConfiguration buildConfiguration() {
    const QString version = QStringLiteral(KELDWICK_VERSION);
    return UpdaterConfiguration{version, version, QStringLiteral(KELDWICK_SU_FEED_URL),
                                QStringLiteral(KELDWICK_SU_PUBLIC_ED_KEY)};
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

bool updatesConfigured(const UpdaterConfiguration& configuration) {
    const QUrl url(configuration.feedURL, QUrl::StrictMode);
    return !configuration.publicKey.isEmpty() && url.isValid() && !url.host().isEmpty() &&
           !configuration.feedURL.contains(QStringLiteral("YOUR-SITE"));
}

QString appVersionText(const UpdaterConfiguration& configuration) {
    const auto shown = [](const QString& text) { return text.isEmpty() ? QStringLiteral("?") : text; };
    return shown(configuration.version) + QStringLiteral(" (") + shown(configuration.build) + QStringLiteral(")");
}

Updater::Updater(const UpdaterConfiguration& configuration, SelfInstall::Installation installation, QSettings* store,
                 QObject* parent)
    : QObject(parent), installation_(std::move(installation)) {
    assertMainThread();
    isConfigured_ = updatesConfigured(configuration);
    const QString publicKey = configuration.publicKey;
    controller_ = std::make_unique<UpdateController>(QUrl(configuration.feedURL), publicKey, configuration.build,
                                                     static_cast<UpdateUserDriverDelegate*>(this), store);
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
