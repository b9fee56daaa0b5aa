// Drives coming and going, mounting slowly or sleeping; unmount requests; notice clicks;
// full disk access and the other drives that hold moved items.

#include <QUrl>
#include <cmath>

#include "drives/VolumeDriveLocator.h"
#include "foundation/FullDiskAccess.h"
#include "foundation/PathUtil.h"
#include "model/AppModel.h"
#include "model/DisplayTexts.h"
#include "model/OtherDrives.h"
#include "model/StatusTexts.h"

namespace keldwick {

void AppModel::refreshDrive() {
    assertMainThread();
    applyDrive(readDrive(state_.settings.drive, *locator_, services_.facts));
}

void AppModel::applyDrive(DriveReading reading) {
    modelStore_.set<ModelField::driveRoot>(std::move(reading.root));
    modelStore_.set<ModelField::driveVolume>(std::move(reading.volume));
    modelStore_.set<ModelField::driveRefusals>(std::move(reading.refusals));
    updateDriveMounting();
}

void AppModel::volumesChanged() {
    assertMainThread();
    modelStore_.announce(ModelField::mounts);
    const bool wasSet = state_.driveRoot.has_value();
    refreshDrive();
    refreshOtherDrives();
    const bool isSet = state_.driveRoot.has_value();
    if (wasSet == isSet) return;

    QPointer<AppModel> self(this);
    if (wasSet) {
        logDrive("Drive disconnected");
        wakeTask_.reset();
        modelStore_.set<ModelField::wakeState>(DriveWakeState::awake);
        if (!hasOffloaded(state_)) return;
        post(Notice{driveDisplayName(state_) + " was unplugged",
                    offloadedCountText(state_) + " on it won't open until you plug it back in.",
                    NoticeTarget::offloaded, "drive-offline"});
        return;
    }
    logDrive("Drive connected");
    watchDriveWake();
    recoverInterrupted([self] {
        if (self) self->check();
    });
}

void AppModel::diskChanged(const std::string& bsdName, const std::optional<DiskVolume>& volume) {
    assertMainThread();
    DiskList disks = state_.disks;
    disks.update(bsdName, volume);
    modelStore_.set<ModelField::disks>(std::move(disks));
    updateDriveMounting();
}

void AppModel::updateDriveMounting() {
    assertMainThread();
    const auto& settings = state_.settings;
    if (state_.driveRoot) {
        endMountWatch();
        auto uuid = state_.disks.uuid(*state_.driveRoot);
        if (uuid && uuid != settings.driveVolumeUUID) setDriveVolumeUUID(uuid);
        return;
    }
    if (settings.drive) {
        auto disk = state_.disks.volume(settings.driveVolumeUUID, settings.drive->name);
        if (disk && !disk->mountPath) {
            if (state_.driveMounting || mountingTask_) return;
            QPointer<AppModel> self(this);
            mountingTask_ = services_.timers->after(mountGrace, [self] {
                if (self) self->mountWatchMarked();
            });
            return;
        }
    }
    endMountWatch();
}

void AppModel::mountWatchMarked() {
    modelStore_.set<ModelField::driveMounting>(std::optional<DriveMounting>(DriveMounting{now(), false}));
    logDrive("Drive plugged in; the system is mounting it");
    QPointer<AppModel> self(this);
    mountingTask_ = services_.timers->after(mountStuckAfter, [self] {
        if (!self || !self->state_.driveMounting) return;
        DriveMounting stuck = *self->state_.driveMounting;
        stuck.stuck = true;
        self->modelStore_.set<ModelField::driveMounting>(std::optional<DriveMounting>(stuck));
        self->logDrive("The system hasn't mounted the drive after 2 minutes");
    });
}

void AppModel::endMountWatch() {
    assertMainThread();
    mountingTask_.reset();
    if (!state_.driveMounting) return;
    const Date since = state_.driveMounting->since;
    modelStore_.set<ModelField::driveMounting>(std::nullopt);
    // The disk's new mount path may be reported before the mount itself is noticed.
    bool mounted = state_.driveRoot.has_value();
    if (!mounted && state_.settings.drive) {
        auto disk = state_.disks.volume(state_.settings.driveVolumeUUID, state_.settings.drive->name);
        mounted = disk && disk->mountPath;
    }
    const auto seconds = static_cast<long>(std::floor(now().timeIntervalSince(since)));
    logDrive(std::string("Drive ") + (mounted ? "mounted" : "gone") + " after " + std::to_string(seconds) + " s");
}

void AppModel::watchDriveWake() {
    assertMainThread();
    wakeTask_.reset();
    modelStore_.set<ModelField::wakeState>(DriveWakeState::awake);
    const auto& profile = state_.settings.driveProfile;
    if (!profile || profile->tier() != DriveTier::hardDrive) return;
    if (!state_.driveVolume || !state_.driveVolume->bsdName) return;
    const std::string bsdName = *state_.driveVolume->bsdName;
    if (!services_.facts.powerState(bsdName)) return;
    wakeDetector_ = WakeDetector{};
    wakeDetector_.timeout = wakeDetectorTimeout;
    pollDriveWake(bsdName);
}

void AppModel::pollDriveWake(std::string bsdName) {
    const auto answer = wakeDetector_.update(services_.facts.powerState(bsdName), now());
    modelStore_.set<ModelField::wakeState>(answer);
    // The poll belongs to the model: it ends with it (the timer dies with the model).
    QPointer<AppModel> self(this);
    wakeTask_ = services_.timers->after(wakePollInterval, [self, bsdName] {
        if (self) self->pollDriveWake(bsdName);
    });
}

bool AppModel::shouldRefuseEject(const std::string& path) {
    assertMainThread();
    if (!state_.driveRoot || *state_.driveRoot != path) return false;
    if (state_.activity != Activity::moving && state_.activity != Activity::restoring) return false;
    if (cancelFlag_) cancelFlag_->cancel();
    return true;
}

void AppModel::openTarget(NoticeTarget target) {
    assertMainThread();
    switch (target) {
        case NoticeTarget::preview:
            requestWindow(AppWindow::preview);
            break;
        case NoticeTarget::suggested:
            openPreview(PreviewKind::suggested, std::nullopt, std::nullopt, true);
            break;
        case NoticeTarget::offloaded:
            requestWindow(AppWindow::offloaded);
            break;
        case NoticeTarget::menu:
            break;
    }
}

void AppModel::refreshFullDiskAccess() {
    assertMainThread();
    applyFullDiskAccess(state_.isSandboxed || services_.facts.fullDiskAccess(state_.home));
}

void AppModel::applyFullDiskAccess(bool granted) {
    const bool before = state_.hasFullDiskAccess;
    modelStore_.set<ModelField::hasFullDiskAccess>(granted);
    // The first probe finds access that was there all along, not access just granted:
    // start-up's first check comes only after recovery.
    const bool firstProbe = !probedFullDiskAccess_;
    probedFullDiskAccess_ = true;
    if (!firstProbe && !before && granted && state_.started && state_.settings.onboardingComplete &&
        !state_.isChecking)
        scheduleCheck(rescheduleSoonSeconds);
}

void AppModel::refreshOtherDrives() {
    assertMainThread();
    modelStore_.set<ModelField::otherDrives>(otherDrives(state_, *locator_, services_.facts.driveNameAt));
}

bool AppModel::openFullDiskAccessSettings() {
    assertMainThread();
    // Linux has no page that grants access: the file manager shows the folder that refused
    // where its permissions can be changed, in the folder that holds it.
    const auto folder = FullDiskAccess::refusedFolder(state_.home);
    if (!folder || !services_.openURL) return false;
    const QUrl holder = QUrl::fromLocalFile(QString::fromStdString(PathUtil::parent(*folder)));
    return services_.openURL(holder.toString().toStdString());
}

DriveStatus AppModel::driveStatus(const OffloadRecord& record) const {
    assertMainThread();
    return keldwick::driveStatus(state_, record);
}

}  // namespace keldwick
