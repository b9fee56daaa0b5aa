// Start-up, refresh, the engine for the current drive and rules, and the check's timer.

#include <algorithm>

#include "foundation/PathUtil.h"
#include "model/AppModel.h"
#include "model/AutomaticCheck.h"

namespace keldwick {

namespace {

constexpr double secondsPerDay = 86'400;

}  // namespace

void AppModel::start() {
    assertMainThread();
    if (state_.started) return;
    assign(state_.started, true, &AppModel::startedChanged);

    if (!instanceLock_) {
        services_.alerts->present("Keldwick is already running", "Look for its icon in the menu bar.");
        if (services_.terminate) services_.terminate();
        return;
    }
    runningSlot() = this;

    QPointer<AppModel> self(this);
    auto& notifier = *services_.notifier;
    notifier.isEnabled = state_.settings.notificationsEnabled;
    notifier.onOpen = [self](NoticeTarget target) {
        if (self) self->openTarget(target);
    };

    auto& watcher = *services_.watcher;
    watcher.onVolumesChanged = [self] {
        if (self) self->volumesChanged();
    };
    watcher.onDiskChanged = [self](const std::string& bsdName, const std::optional<DiskVolume>& volume) {
        if (self) self->diskChanged(bsdName, volume);
    };
    watcher.onWake = [self] {
        if (self) self->scheduleCheck(afterWakeCheckDelay);
    };
    watcher.start();

    auto& guard = *services_.ejectGuard;
    // A model that is gone lets every unmount go ahead.
    guard.shouldRefuse = [self](const std::string& path) { return self && self->shouldRefuseEject(path); };
    guard.postNotice = [self](const std::string& text) {
        if (self) self->post(Notice{"", text, NoticeTarget::menu, std::nullopt});
    };
    guard.start();

    refresh();
    watchDriveWake();
    if (!state_.settings.onboardingComplete) requestWindow(AppWindow::onboarding);

    recoverInterrupted([self] {
        if (self) self->scheduleCheck(firstCheckDelay);
    });
}

void AppModel::refresh() {
    assertMainThread();
    assign(state_.macFreeBytes, services_.facts.availableBytes(state_.home), &AppModel::macFreeBytesChanged);
    assign(state_.macTotalBytes, services_.facts.totalBytes(state_.home), &AppModel::macTotalBytesChanged);
    refreshFullDiskAccess();
    refreshDrive();

    std::vector<OffloadRecord> all;
    try {
        all = journal_->allRecords();
    } catch (const std::exception&) {
        all.clear();
    }
    std::vector<OffloadRecord> current;
    bool broughtBack = false;
    for (const auto& record : all) {
        if (record.phase == Phase::restored) broughtBack = true;
        if (record.phase == Phase::restored || record.phase == Phase::abandoned || record.phase == Phase::superseded)
            continue;
        current.push_back(record);
    }
    std::stable_sort(current.begin(), current.end(),
                     [](const OffloadRecord& a, const OffloadRecord& b) { return a.updatedAt > b.updatedAt; });
    assign(state_.records, std::move(current), &AppModel::recordsChanged);
    refreshOtherDrives();
    assign(state_.hasBroughtFilesBack, broughtBack, &AppModel::hasBroughtFilesBackChanged);

    loadPins();

    auto restored = recentlyRestoredPaths();
    if (restored == state_.recentlyRestored) return;
    assign(state_.recentlyRestored, std::move(restored), &AppModel::recentlyRestoredChanged);
    setEngine(makeEngine());
}

std::shared_ptr<EngineOperations> AppModel::makeEngine(std::optional<RuleList> rules) {
    assertMainThread();
    EngineSpec spec;
    spec.journal = journal_;
    spec.drive = state_.settings.drive.value_or(Drive{"", "No drive"});
    spec.locator = locator_;
    spec.home = state_.home;
    spec.rules = rules ? std::move(*rules) : scanRules();
    if (!state_.isSandboxed && services_.facts.iconPlacing)
        spec.icons = services_.facts.iconPlacing(PathUtil::join(state_.home, "Desktop"));
    if (!spec.icons) spec.icons = std::make_shared<NoIconPlacing>();
    return services_.engines(spec);
}

std::vector<std::string> AppModel::recentlyRestoredPaths() {
    assertMainThread();
    const double cutoff = now().secondsSince1970 - state_.settings.minimumAgeDays * secondsPerDay;
    std::vector<std::string> paths;
    std::vector<OffloadRecord> restored;
    try {
        restored = journal_->records({Phase::restored});
    } catch (const std::exception&) {
        return paths;
    }
    for (const auto& record : restored) {
        if (record.updatedAt.secondsSince1970 > cutoff) paths.push_back(record.originalPath);
    }
    return paths;
}

RuleList AppModel::scanRules() const { return keldwick::scanRules(state_); }

PlanBuilder AppModel::planBuilder(const std::vector<std::string>& folders, const DriveProfile& profile) const {
    return keldwick::planBuilder(state_, folders, profile);
}

void AppModel::scheduleCheck(std::optional<double> seconds) {
    assertMainThread();
    checkTask_.reset();
    const double interval = seconds ? *seconds : state_.settings.checkIntervalMinutes * 60.0;
    assign(state_.nextCheck, std::optional<Date>(now().adding(interval)), &AppModel::nextCheckChanged);
    QPointer<AppModel> self(this);
    checkTask_ = services_.timers->after(interval, [self] {
        if (!self) return;
        self->check([self] {
            if (self) self->scheduleCheck();
        });
    });
}

}  // namespace keldwick
