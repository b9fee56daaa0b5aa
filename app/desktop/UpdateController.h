#pragma once
// Checks the update feed and hands a found update to its user driver. Where the program
// can replace itself (an installer is set: a prefix of the user's own with the layout
// `make install` writes), installing a verified update puts it in place of the running
// version, in the background; elsewhere (a package manager's installation, a build
// tree) installing opens the update's download page and nothing downloaded is run.
//
// A check fetches the feed, picks the newest release above the running version,
// downloads its archive and verifies the archive's Ed25519 signature; only a verified
// release is announced. A feed that can't be loaded or read, a release without a valid
// signature, an archive or page whose address isn't https, a download sent on (redirected)
// to an address that isn't https, and a failed download each end the check with
// `checkFailed` and a clear message.

#include "model/ModelPorts.h"
#include "desktop/Appcast.h"
#include "model/BackgroundWork.h"

#include <QNetworkAccessManager>
#include <QObject>
#include <QTimer>
#include <QByteArray>
#include <QUrl>
#include <functional>
#include <optional>

class QNetworkReply;

namespace keldwick {

// The user driver's side of a found update (the program's `Updater`).
class UpdateUserDriverDelegate {
public:
    virtual ~UpdateUserDriverDelegate() = default;
    // Whether an update found by a scheduled check may be left to the program to show
    // quietly.
    virtual bool supportsGentleScheduledUpdateReminders() = 0;
    // Whether the driver shows an update found by a scheduled check itself.
    virtual bool standardUserDriverShouldHandleShowingScheduledUpdate(const AppcastItem& update,
                                                                      bool immediateFocus) = 0;
    virtual void standardUserDriverWillHandleShowingUpdate(bool handleShowingUpdate, const AppcastItem& update) = 0;
    virtual void standardUserDriverDidReceiveUserAttentionForUpdate(const AppcastItem& update) = 0;
    virtual void standardUserDriverWillFinishUpdateSession() = 0;
};

class UpdateController final : public QObject {
    Q_OBJECT

public:
    // Nothing happens until `startUpdater`. `store` (the program's one settings store) keeps
    // the two switches; in memory when none. Main thread only.
    UpdateController(QUrl feed, QString publicKey, QString currentVersion, UpdateUserDriverDelegate* delegate,
                     std::shared_ptr<Preferences> store = nullptr, QObject* parent = nullptr);

    // Allows checks and starts the schedule of automatic ones (daily, the first a minute
    // after the start).
    void startUpdater();
    bool isStarted() const { return started_; }

    // False before the start and while a check runs.
    bool canCheckForUpdates() const { return canCheck_; }
    // Whether the check running or last ended was the user's own (not a scheduled one).
    bool userInitiatedCheck() const { return userInitiated_; }

    // The user's command: a found update is shown by the driver (`updateShown`), and
    // `noUpdateFound` tells that the program is up to date. An update found by an earlier
    // check and not yet installed or dismissed is shown at once.
    void checkForUpdates();
    // A scheduled check: a found update may be left to the program (gentle reminder).
    void checkForUpdatesInBackground();

    bool automaticallyChecksForUpdates() const;
    void setAutomaticallyChecksForUpdates(bool on);

    // Installs a verified update's archive and gives the path that starts the new version;
    // throws std::exception with a sentence for the user. Runs on a worker thread.
    using Installer = std::function<std::string(const AppcastItem& update, const QByteArray& archive)>;
    // Set where the program can replace itself; without one, installing opens the page.
    void setInstaller(Installer installer);
    bool canInstall() const { return static_cast<bool>(installer_); }
    bool isInstalling() const { return installing_; }

    // Whether a verified update is installed as soon as it is found (never without an
    // installer: the switch reads off).
    bool automaticallyDownloadsUpdates() const;
    void setAutomaticallyDownloadsUpdates(bool on);

    // The verified update found by the last check, until it is installed or dismissed.
    const std::optional<AppcastItem>& foundUpdate() const { return found_; }
    // With an installer, installs the found update in the background (`updateInstalled`
    // or `installFailed` follow); without one, opens its page (its link, else its
    // archive). Either way the session ends.
    void installUpdate();
    // Ends the session without installing.
    void dismissUpdate();

    // How a page is opened (the desktop's browser; tests replace it).
    std::function<void(const QUrl&)> openPage;
    // Whether the program has the user's focus now (the application is active).
    std::function<bool()> hasFocus;

    // The most bytes taken for the feed and for an archive.
    static constexpr qint64 feedLimit = 8 << 20;
    static constexpr qint64 archiveLimit = qint64{1} << 30;

signals:
    void canCheckForUpdatesChanged(bool canCheck);
    void updateShown(const keldwick::AppcastItem& update);
    void noUpdateFound();
    void checkFailed(const QString& message);
    // A found update is in place; `program` starts it. The running version goes on until
    // the user relaunches.
    void updateInstalled(const keldwick::AppcastItem& update, const QString& program);
    void installFailed(const QString& message);

private:
    void check(bool userInitiated);
    void fetch(const QUrl& url, qint64 limit, std::function<void(QByteArray)> then,
               std::function<void(QString)> failed);
    void feedArrived(const QByteArray& feed);
    void archiveArrived(const AppcastItem& update, const QByteArray& archive);
    void fail(const QString& message);
    void finish();
    void setCanCheck(bool value);
    void schedule();
    void startInstall(const AppcastItem& update, const QByteArray& archive);

    QUrl feed_;
    QString publicKey_;
    QString currentVersion_;
    UpdateUserDriverDelegate* delegate_;
    std::shared_ptr<Preferences> store_;
    bool automaticChecks_ = true;
    bool automaticDownloads_ = false;
    bool installing_ = false;
    Installer installer_;
    QByteArray archive_;  // the found update's verified archive
    bool started_ = false;
    bool checking_ = false;
    bool userInitiated_ = false;
    bool canCheck_ = false;
    std::optional<AppcastItem> found_;
    QNetworkAccessManager network_;
    QTimer timer_;
    OwnedRelay relay_;
    BackgroundWork work_;  // the install; its result comes back through the relay
};

}  // namespace keldwick
