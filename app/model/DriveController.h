#pragma once
// The chosen drive and the volumes around it: where the drive is mounted, a drive that
// mounts slowly, a hard disk waking, home access, the other drives holding moved
// items, and the drive options the first-run guide offers. It writes the drive's fields of
// the store's state and tells the model what follows (connected, accessGranted). Main
// thread only; its timers end with it.

#include <QObject>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "drives/DriveLocating.h"
#include "drives/WakeDetector.h"
#include "model/AppServices.h"
#include "model/BackgroundWork.h"
#include "model/LatestJob.h"
#include "model/ModelStore.h"
#include "model/Notice.h"
#include "model/OtherDrives.h"
#include "model/RefreshReading.h"

namespace keldwick {

// What "Show the Folder" did.
struct FolderShowing {
    std::optional<std::string> folder;  // the folder shown or meant to be; none when none refuses
    bool shown = false;                 // the file manager took it
    bool operator==(const FolderShowing&) const = default;
};


class SettingsController;

class DriveController final : public QObject {
    Q_OBJECT

public:
    // Timings of the waits, in seconds.
    static constexpr double mountGrace = 2;         // before a mounting drive is reported
    static constexpr double mountStuckAfter = 118;  // after the grace: "stuck"
    static constexpr double wakePollInterval = 1;
    static constexpr double wakeDetectorTimeout = 20;

    // `services`, `settings` and `store` outlive the controller.
    DriveController(ModelStore& store, const AppServices& services, std::shared_ptr<DriveLocating> locator,
                    SettingsController& settings, BackgroundWork work, QObject* parent = nullptr);
    ~DriveController() override;

    const std::shared_ptr<DriveLocating>& locator() const { return locator_; }
    bool isMountWatchRunning() const { return mountingTask_ != nullptr; }
    // From the start of a watch (its first reading is under way) until it ends.
    bool isWakeWatchRunning() const { return wakeDisk_.has_value(); }

    // Re-reads where the chosen drive is mounted, then the mount watch.
    void refreshDrive();
    // Takes a reading made elsewhere (a refresh), then the mount watch.
    void apply(DriveReading reading);
    // A new drive was chosen: the places its predecessor was found are forgotten.
    void forgetLocations();

    // A volume was mounted or unmounted: re-reads the drive and the other drives on a
    // worker (the locator may wait on a slow volume or on a lock the engine holds), then
    // tells of the chosen drive or an earlier one coming (connected) or of the chosen
    // drive going (a notice). A change while a reading is under way replaces it: a burst
    // of changes is read once, at its end, and compared with the state before the burst.
    // `done`, if any, is called on the main thread once the change has been acted on.
    void volumesChanged(std::function<void()> done = nullptr);
    void diskChanged(const std::string& kernelName, const std::optional<DiskVolume>& volume);
    void updateDriveMounting();
    void endMountWatch();
    // Watches a hard disk's power state while it is the chosen drive: a reading off the main
    // thread (it may wait on the system bus), then one a second after each answer, so
    // readings never pile up. A disk whose first reading tells nothing is not watched.
    void watchDriveWake();
    void endWakeWatch();

    void refreshHomeAccess();
    // Takes a probe's answer; access newly granted after set-up asks for a check (accessGranted).
    void applyHomeAccess(const HomeAccess::Reading& reading);
    // Shows the folder that refuses to open (the one that withholds access, else one its own
    // mode closes), in the file manager, where its permissions can be changed. Says which
    // folder, none when none refuses (a sandbox hides folders rather than refusing them),
    // and whether anything showed it: the permission screens then explain what blocks
    // access, or where to go, instead of pretending something opened.
    FolderShowing openHomeAccessSettings();

    DriveStatus driveStatus(const OffloadRecord& record) const;

    // The drive options the guide offers, listed on a background thread.
    void listOptions(std::function<void(EngineOutcome<std::vector<DriveOption>>)> done);
    // Speed-tests `option` on a background thread; nothing is left on it.
    void testSpeed(const DriveOption& option, std::function<void(EngineOutcome<DriveProfile>)> done);
    // Marks `option` as the drive on a background thread: the user confirmed it.
    void mark(const DriveOption& option, std::function<void(EngineOutcome<Drive>)> done);

signals:
    // The chosen drive, or an earlier one holding items, was mounted: interrupted work is
    // settled, then a check.
    void connected();
    // Home access was granted after set-up: a check soon.
    void accessGranted();

private:
    // What a mount change reads: where the chosen drive is, and the other drives that the
    // records name.
    struct VolumesReading {
        std::optional<Drive> drive;  // the drive it was read for
        DriveReading chosenDrive;
        MountedDrives otherDrives;
    };

    Date now() const { return services_.clock->now(); }
    void readVolumes();
    void applyVolumes(EngineOutcome<VolumesReading> outcome);
    void actOnVolumes(VolumesReading reading, const std::set<std::string>& otherPluggedIn);
    void post(const Notice& notice);
    void readDriveWake(bool first);
    void mountWatchMarked();

    ModelStore& store_;
    const AppServices& services_;
    std::shared_ptr<DriveLocating> locator_;
    SettingsController& settings_;
    BackgroundWork work_;
    LatestJob volumesJob_{work_};  // the newest mount change's reading
    // The other drives plugged in before the first change the pending reading covers.
    std::optional<std::set<std::string>> otherPluggedInBefore_;
    std::vector<std::function<void()>> volumesWaiters_;
    std::unique_ptr<Timer> wakeTask_;
    std::unique_ptr<Timer> mountingTask_;
    WakeDetector wakeDetector_;
    std::optional<std::string> wakeDisk_;  // the kernel name watched
    uint64_t wakeWatch_ = 0;               // which watch a reading belongs to
    bool probedHomeAccess_ = false;
    // Whether the drive was mounted when its coming or going was last acted on (or first
    // read); none before the first reading of the chosen drive.
    std::optional<bool> placeActedOn_;
};

}  // namespace keldwick
