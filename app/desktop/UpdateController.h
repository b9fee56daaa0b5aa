#pragma once
// Checks the update feed and hands a found update to its user driver. Linux programs
// are updated by their package manager, so installing an update opens its download
// page; nothing downloaded is ever run.
//
// A check fetches the feed, picks the newest release above the running version,
// downloads its archive and verifies the archive's Ed25519 signature; only a verified
// release is announced. A feed that can't be loaded or read, a release without a valid
// signature, an archive or page whose address isn't https, a download sent on (redirected)
// to an address that isn't https, and a failed download each end the check with
// `checkFailed` and a clear message.

#include "desktop/Appcast.h"

#include <QNetworkAccessManager>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <QUrl>
#include <functional>
#include <optional>

class QNetworkReply;
class QSettings;

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
    // Nothing happens until `startUpdater`. `store` keeps the automatic-check switch
    // (in memory when none). Main thread only.
    UpdateController(QUrl feed, QString publicKey, QString currentVersion, UpdateUserDriverDelegate* delegate,
                     QSettings* store = nullptr, QObject* parent = nullptr);

    // Allows checks and starts the schedule of automatic ones (daily, the first a minute
    // after the start).
    void startUpdater();
    bool isStarted() const { return started_; }

    // False before the start and while a check runs.
    bool canCheckForUpdates() const { return canCheck_; }

    // The user's command: a found update is shown by the driver (`updateShown`), and
    // `noUpdateFound` tells that the program is up to date.
    void checkForUpdates();
    // A scheduled check: a found update may be left to the program (gentle reminder).
    void checkForUpdatesInBackground();

    bool automaticallyChecksForUpdates() const;
    void setAutomaticallyChecksForUpdates(bool on);

    // The verified update found by the last check, until it is installed or dismissed.
    const std::optional<AppcastItem>& foundUpdate() const { return found_; }
    // Opens the found update's page (its link, else its archive) and ends the session.
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

    QUrl feed_;
    QString publicKey_;
    QString currentVersion_;
    UpdateUserDriverDelegate* delegate_;
    QPointer<QSettings> store_;
    bool automaticChecks_ = true;
    bool started_ = false;
    bool checking_ = false;
    bool userInitiated_ = false;
    bool canCheck_ = false;
    std::optional<AppcastItem> found_;
    QNetworkAccessManager network_;
    QTimer timer_;
};

}  // namespace keldwick
