// Drives coming and going, mounting slowly or sleeping; home access and the other
// drives that hold moved items; the drive options of the first-run guide.

#include "model/DriveController.h"

#include <algorithm>
#include <set>

#include <QUrl>
#include <cmath>

#include "drives/VolumeDriveLocator.h"
#include "foundation/HomeAccess.h"
#include "foundation/Log.h"
#include "foundation/PathUtil.h"
#include "model/DisplayTexts.h"
#include "model/DriveLog.h"
#include "model/MainThread.h"
#include "model/Notice.h"
#include "model/OtherDrives.h"
#include "model/SettingsController.h"
#include "model/StatusTexts.h"

namespace keldwick {

namespace {

void logDrive(const std::string& message) { qCInfo(keldwickDriveLog).noquote() << QString::fromStdString(message); }

}  // namespace

DriveController::DriveController(ModelStore& store, const AppServices& services, std::shared_ptr<DriveLocating> locator,
                                 SettingsController& settings, BackgroundWork work, QObject* parent)
    : QObject(parent),
      store_(store),
      services_(services),
      locator_(std::move(locator)),
      settings_(settings),
      work_(std::move(work)) {}

DriveController::~DriveController() = default;

void DriveController::post(const Notice& notice) { postNotice(*services_.notifier, notice); }

void DriveController::refreshDrive() {
    assertMainThread();
    apply(readDrive(store_.state().settings.drive, *locator_, services_.facts));
}

void DriveController::apply(DriveReading reading) {
    store_.set<ModelField::driveRoot>(std::move(reading.root));
    store_.set<ModelField::driveVolume>(std::move(reading.volume));
    store_.set<ModelField::driveRefusals>(std::move(reading.refusals));
    // The first reading of a drive is where it is, not a change.
    if (!placeActedOn_) placeActedOn_ = store_.state().driveRoot.has_value();
    updateDriveMounting();
}

void DriveController::forgetLocations() {
    if (auto* volumes = dynamic_cast<VolumeDriveLocator*>(locator_.get())) volumes->forgetLocations();
    placeActedOn_.reset();
    store_.set<ModelField::filesProblem>(std::nullopt);
}

void DriveController::volumesChanged(std::function<void()> done) {
    assertMainThread();
    store_.announce(ModelField::mounts);
    if (done) volumesWaiters_.push_back(std::move(done));
    if (!otherPluggedInBefore_) {
        std::set<std::string> pluggedIn;
        for (const auto& [id, status] : store_.state().otherDrives)
            if (status.connected) pluggedIn.insert(id);
        otherPluggedInBefore_ = std::move(pluggedIn);
    }
    readVolumes();
}

void DriveController::readVolumes() {
    const ModelState& state = store_.state();
    // Copies: the worker reads only what it holds.
    volumesJob_.run<VolumesReading>(
        WorkPriority::waiting,
        [drive = state.settings.drive, records = state.records, locator = locator_,
         facts = services_.facts](const LatestJob::Cancel&) {
            VolumesReading reading;
            reading.drive = drive;
            reading.chosenDrive = readDrive(drive, *locator, facts);
            reading.otherDrives =
                mountedOtherDrives(records, drive ? drive->id : std::string(), *locator, facts.driveNameAt);
            return reading;
        },
        [this](EngineOutcome<VolumesReading> outcome) { applyVolumes(std::move(outcome)); });
}

void DriveController::applyVolumes(EngineOutcome<VolumesReading> outcome) {
    assertMainThread();
    if (outcome.succeeded()) {
        const ModelState& state = store_.state();
        // The drive or the records' drives changed while this was read: what was read
        // belongs to them as they were.
        const std::string chosen = state.settings.drive ? state.settings.drive->id : std::string();
        std::set<std::string> others = state.records.driveIDs();
        others.erase(chosen);
        const auto& read = outcome.value->otherDrives;
        const bool current = outcome.value->drive == state.settings.drive && others.size() == read.size() &&
                             std::equal(others.begin(), others.end(), read.begin(),
                                        [](const std::string& id, const auto& entry) { return id == entry.first; });
        if (!current) {
            readVolumes();
            return;
        }
    } else {
        Log::error("app", "Reading the volumes failed: " + outcome.errorText());
    }
    const std::set<std::string> otherPluggedIn = std::move(otherPluggedInBefore_).value_or(std::set<std::string>{});
    otherPluggedInBefore_.reset();
    auto waiters = std::move(volumesWaiters_);
    volumesWaiters_.clear();
    if (outcome.succeeded()) actOnVolumes(std::move(*outcome.value), otherPluggedIn);
    for (auto& waiter : waiters) waiter();
}

void DriveController::actOnVolumes(VolumesReading reading, const std::set<std::string>& otherPluggedIn) {
    const ModelState& state = store_.state();
    // Compared with the place last acted on, not with the state: a refresh that read the
    // volumes between the unmount and this reading has written the new place already.
    const bool wasSet = placeActedOn_.value_or(state.driveRoot.has_value());
    apply(std::move(reading.chosenDrive));
    store_.set<ModelField::otherDrives>(otherDrives(reading.otherDrives, state.otherDrives));
    // An earlier drive coming back may carry a restore it cut short: settled as the
    // chosen drive's are.
    bool otherCame = false;
    for (const auto& [id, status] : state.otherDrives)
        if (status.connected && !otherPluggedIn.count(id)) otherCame = true;
    const bool isSet = state.driveRoot.has_value();
    placeActedOn_ = isSet;
    if (wasSet == isSet) {
        if (otherCame) emit connected();
        return;
    }
    // A problem the files window showed was about the drive as it was.
    store_.set<ModelField::filesProblem>(std::nullopt);

    if (wasSet) {
        logDrive("Drive disconnected");
        endWakeWatch();
        if (otherCame) emit connected();
        if (!hasOffloaded(state)) return;
        post(Notice{driveDisplayName(state) + " was unplugged",
                    offloadedCountText(state) + " on it won't open until you plug it back in.",
                    NoticeTarget::offloaded, "drive-offline"});
        return;
    }
    logDrive("Drive connected");
    watchDriveWake();
    emit connected();
}

void DriveController::diskChanged(const std::string& kernelName, const std::optional<DiskVolume>& volume) {
    assertMainThread();
    DiskList disks = store_.state().disks;
    disks.update(kernelName, volume);
    store_.set<ModelField::disks>(std::move(disks));
    updateDriveMounting();
}

void DriveController::updateDriveMounting() {
    assertMainThread();
    const ModelState& state = store_.state();
    const auto& settings = state.settings;
    if (state.driveRoot) {
        endMountWatch();
        auto uuid = state.disks.uuid(*state.driveRoot);
        if (uuid && uuid != settings.driveVolumeUUID) settings_.setDriveVolumeUUID(uuid);
        return;
    }
    if (settings.drive) {
        auto disk = state.disks.volume(settings.driveVolumeUUID, settings.drive->name);
        if (disk && !disk->mountPath) {
            if (state.driveMounting || mountingTask_) return;
            // The timers end with the controller: nothing fires into one that is gone.
            mountingTask_ = services_.timers->after(mountGrace, [this] { mountWatchMarked(); });
            return;
        }
    }
    endMountWatch();
}

void DriveController::mountWatchMarked() {
    store_.set<ModelField::driveMounting>(std::optional<DriveMounting>(DriveMounting{now(), false}));
    logDrive("Drive plugged in; the system is mounting it");
    mountingTask_ = services_.timers->after(mountStuckAfter, [this] {
        if (!store_.state().driveMounting) return;
        DriveMounting stuck = *store_.state().driveMounting;
        stuck.stuck = true;
        store_.set<ModelField::driveMounting>(std::optional<DriveMounting>(stuck));
        logDrive("The system hasn't mounted the drive after 2 minutes");
    });
}

void DriveController::endMountWatch() {
    assertMainThread();
    mountingTask_.reset();
    const ModelState& state = store_.state();
    if (!state.driveMounting) return;
    const Date since = state.driveMounting->since;
    store_.set<ModelField::driveMounting>(std::nullopt);
    // The disk's new mount path may be reported before the mount itself is noticed.
    bool mounted = state.driveRoot.has_value();
    if (!mounted && state.settings.drive) {
        auto disk = state.disks.volume(state.settings.driveVolumeUUID, state.settings.drive->name);
        mounted = disk && disk->mountPath;
    }
    const auto seconds = static_cast<long>(std::floor(now().timeIntervalSince(since)));
    logDrive(std::string("Drive ") + (mounted ? "mounted" : "gone") + " after " + std::to_string(seconds) + " s");
}

void DriveController::watchDriveWake() {
    assertMainThread();
    endWakeWatch();
    const ModelState& state = store_.state();
    const auto& profile = state.settings.driveProfile;
    if (!profile || profile->tier() != DriveTier::hardDrive) return;
    if (!state.driveVolume || !state.driveVolume->kernelName) return;
    wakeDisk_ = *state.driveVolume->kernelName;
    wakeDetector_ = WakeDetector{};
    wakeDetector_.timeout = wakeDetectorTimeout;
    readDriveWake(true);
}

void DriveController::endWakeWatch() {
    assertMainThread();
    // A reading still under way belongs to the watch that ends: it is dropped on its return.
    ++wakeWatch_;
    wakeTask_.reset();
    wakeDisk_.reset();
    store_.set<ModelField::wakeState>(DriveWakeState::awake);
}

void DriveController::readDriveWake(bool first) {
    wakeTask_.reset();
    const uint64_t watch = wakeWatch_;
    work_.run<std::optional<DrivePowerState>>(
        WorkPriority::background,
        [read = services_.facts.powerState, kernelName = *wakeDisk_] { return read(kernelName); },
        [this, watch, first](EngineOutcome<std::optional<DrivePowerState>> outcome) {
            if (watch != wakeWatch_) return;
            std::optional<DrivePowerState> reading = outcome.value ? *outcome.value : std::nullopt;
            if (first && !reading) {
                endWakeWatch();
                return;
            }
            store_.set<ModelField::wakeState>(wakeDetector_.update(reading, now()));
            wakeTask_ = services_.timers->after(wakePollInterval, [this] { readDriveWake(false); });
        });
}

void DriveController::refreshHomeAccess() {
    assertMainThread();
    const ModelState& state = store_.state();
    applyHomeAccess(services_.facts.homeAccess(state.home, state.settings.managedFolders));
}

void DriveController::applyHomeAccess(const HomeAccess::Reading& reading) {
    const ModelState& state = store_.state();
    const bool before = state.canReadHome;
    const bool granted = reading.granted;
    store_.set<ModelField::canReadHome>(granted);
    store_.set<ModelField::foldersRefusedByMode>(reading.refusedByMode);
    // The first probe finds access that was there all along, not access just granted:
    // start-up's first check comes only after recovery.
    const bool firstProbe = !probedHomeAccess_;
    probedHomeAccess_ = true;
    if (!firstProbe && !before && granted && state.started && state.settings.onboardingComplete && !state.isChecking)
        emit accessGranted();
}

FolderShowing DriveController::openHomeAccessSettings() {
    assertMainThread();
    // Linux has no page that grants access: the file manager shows the folder that refused
    // where its permissions can be changed, in the folder that holds it.
    const ModelState& state = store_.state();
    FolderShowing showing;
    showing.folder = services_.facts.homeAccess(state.home, state.settings.managedFolders).folderToShow();
    if (!showing.folder || !services_.openURL) return showing;
    const QUrl holder = QUrl::fromLocalFile(QString::fromStdString(PathUtil::parent(*showing.folder)));
    showing.shown = services_.openURL(holder.toString().toStdString());
    return showing;
}

DriveStatus DriveController::driveStatus(const OffloadRecord& record) const {
    assertMainThread();
    return keldwick::driveStatus(store_.state(), record);
}

void DriveController::listOptions(std::function<void(EngineOutcome<std::vector<DriveOption>>)> done) {
    assertMainThread();
    work_.run<std::vector<DriveOption>>(
        WorkPriority::user, [system = services_.driveSystem] { return DriveOption::all(system); }, std::move(done));
}

void DriveController::testSpeed(const DriveOption& option, std::function<void(EngineOutcome<DriveProfile>)> done) {
    assertMainThread();
    work_.run<DriveProfile>(
        WorkPriority::user, [option, system = services_.driveSystem] { return option.testSpeed(system); },
        std::move(done));
}

void DriveController::mark(const DriveOption& option, std::function<void(EngineOutcome<Drive>)> done) {
    assertMainThread();
    work_.run<Drive>(
        WorkPriority::user, [option, system = services_.driveSystem] { return option.mark(system); }, std::move(done));
}

}  // namespace keldwick
