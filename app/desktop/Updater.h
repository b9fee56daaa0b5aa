#pragma once
// The program's software updates: whether they are set up in this build, whether a
// check can start now, and the version of a found update left to the menu to show.
//
// The feed address and signing key are build settings (the CMake options SUFeedURL and
// SUPublicEDKey); a build without them has updates switched off: the controller exists
// but never starts.

#include "desktop/SelfInstall.h"
#include "desktop/UpdateController.h"

#include <QObject>
#include <QString>
#include <memory>
#include <optional>
#include <string>

class QSettings;

namespace keldwick {

// What the updater needs to know of this build.
struct UpdaterConfiguration {
    QString version;    // shown to the user ("1.2")
    QString build;      // compared with the feed's versions ("120")
    QString feedURL;    // the update feed's address; empty when the build sets none
    QString publicKey;  // the Ed25519 key, base64, update archives are verified with; may be empty
};

// This build's configuration.
UpdaterConfiguration buildConfiguration();

// Whether `configuration` has a usable feed and key: a non-empty key, and a feed that
// parses as a URL with a host and isn't the "YOUR-SITE" placeholder.
bool updatesConfigured(const UpdaterConfiguration& configuration);

// The version, " (", the build and ")"; "?" for either that is empty.
QString appVersionText(const UpdaterConfiguration& configuration = buildConfiguration());

// The updater's switches' store: the toolkit settings file "Keldwick.conf" in
// `configFolder` (the program's config folder), created 0600 first so that every later
// write keeps that mode. Nothing (the switches stay unsaved) while something other than a
// regular file of a sane size stands there and can't be set aside.
std::unique_ptr<QSettings> updaterStore(const std::string& configFolder);

class Updater final : public QObject, private UpdateUserDriverDelegate {
    Q_OBJECT

public:
    // Main thread only. When configured, starts the controller at once, so
    // `canCheckForUpdates` holds the controller's value on return. `installation` says
    // where the program runs and whether it can replace itself there; where it can, the
    // controller installs updates into it.
    explicit Updater(const UpdaterConfiguration& configuration = buildConfiguration(),
                     SelfInstall::Installation installation = SelfInstall::current(), QSettings* store = nullptr,
                     QObject* parent = nullptr);

    const std::optional<QString>& availableUpdate() const { return availableUpdate_; }
    bool canCheckForUpdates() const { return canCheckForUpdates_; }
    UpdateController* controller() const { return controller_.get(); }
    bool isConfigured() const { return isConfigured_; }
    // Whether a found update can be installed in place of the running program.
    bool canInstallItself() const { return isConfigured_ && controller_->canInstall(); }
    // Why it can't, in one line; empty when it can.
    const std::string& installProblem() const { return installation_.whyNot; }

signals:
    void availableUpdateChanged();
    void canCheckForUpdatesChanged();

private:
    bool supportsGentleScheduledUpdateReminders() override;
    bool standardUserDriverShouldHandleShowingScheduledUpdate(const AppcastItem& update, bool immediateFocus) override;
    void standardUserDriverWillHandleShowingUpdate(bool handleShowingUpdate, const AppcastItem& update) override;
    void standardUserDriverDidReceiveUserAttentionForUpdate(const AppcastItem& update) override;
    void standardUserDriverWillFinishUpdateSession() override;

    void setAvailableUpdate(std::optional<QString> value);
    void setCanCheckForUpdates(bool value);

    std::optional<QString> availableUpdate_;
    bool canCheckForUpdates_ = false;
    bool isConfigured_ = false;
    SelfInstall::Installation installation_;
    std::unique_ptr<UpdateController> controller_;
};

}  // namespace keldwick
