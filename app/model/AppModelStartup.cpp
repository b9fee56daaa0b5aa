// Start-up, refresh, the engine for the current drive and rules, and the check's timer.

#include <QLoggingCategory>
#include <memory>

#include "foundation/PathUtil.h"
#include "model/AppModel.h"
#include "model/StatusTexts.h"
#include "model/AutomaticCheck.h"
#include "model/FreedMemory.h"

Q_LOGGING_CATEGORY(keldwickStartupLog, "com.orvandel.Keldwick.startup")

namespace keldwick {

void AppModel::start() {
    assertMainThread();
    if (state_.started) return;
    modelStore_.set<ModelField::started>(true);

    if (!instanceLock_) {
        services_.alerts->present("Keldwick is already running", "Look for its icon in the system tray.");
        if (services_.terminate) services_.terminate();
        return;
    }
    runningSlot() = this;

    auto& notifier = *services_.notifier;
    notifier.isEnabled = state_.settings.notificationsEnabled;
    notifier.onOpen = [this](NoticeTarget target) {
        openTarget(target);
    };

    auto& watcher = *services_.watcher;
    watcher.onVolumesChanged = [this] {
        drives_.volumesChanged();
    };
    watcher.onDiskChanged = [this](const std::string& bsdName, const std::optional<DiskVolume>& volume) {
        drives_.diskChanged(bsdName, volume);
    };
    watcher.onWake = [this] {
        scheduleCheck(afterWakeCheckDelay);
    };
    watcher.start();

    auto& guard = *services_.ejectGuard;
    guard.shouldRefuse = [this](const std::string& path) { return shouldRefuseEject(path); };
    guard.postNotice = [this](const std::string& text) {
        post(Notice{"", text, NoticeTarget::menu, std::nullopt});
    };
    guard.start();

    if (state_.settingsSetAside) {
        const MenuStatus setAside = settingsSetAsideStatus();
        post(Notice{setAside.headline, setAside.detail.value_or(""), NoticeTarget::menu, std::nullopt});
    }
    refreshNow();
    drives_.watchDriveWake();
    if (!state_.settings.onboardingComplete) requestWindow(AppWindow::onboarding);

    recoverInterrupted([this] {
        scheduleCheck(firstCheckDelay);
        // Start-up work ends with the check that follows recovery; said once, so that one
        // watching the program (its benchmark) knows it is at rest from then on.
        auto once = std::make_shared<QMetaObject::Connection>();
        *once = connect(&modelStore_, &ModelStore::changed, this, [this, once](ModelFields fields) {
            if (!fields.has(ModelField::isChecking) || state_.isChecking) return;
            disconnect(*once);
            qCInfo(keldwickStartupLog) << "Start-up recovery and the first check are done";
        });
    });
}

void AppModel::refresh(Done done) {
    assertMainThread();
    if (done) refreshWaiters_.push_back(std::move(done));
    const uint64_t serial = ++refreshSerial_;
    auto relay = relay_;
    services_.background->run(WorkPriority::user, [this, relay, serial, sources = refreshSources()] {
        auto reading = std::make_shared<RefreshReading>(readRefresh(sources));
        relay->post([this, serial, reading] { applyRefresh(serial, std::move(*reading)); });
    });
}

void AppModel::refreshNow() {
    assertMainThread();
    const uint64_t serial = ++refreshSerial_;
    applyRefresh(serial, readRefresh(refreshSources()));
}

RefreshSources AppModel::refreshSources() const {
    return RefreshSources{state_.home,    state_.isSandboxed, state_.settings.drive, journal_,
                          locator_,       services_.facts,    state_.records};
}

void AppModel::applyRefresh(uint64_t serial, RefreshReading reading) {
    assertMainThread();
    // A newer refresh has started: its values are the ones to show, and its end calls the
    // waiters.
    if (serial != refreshSerial_) return;
    // The drive was changed while this was read: what was read belongs to the old one.
    if (reading.drive != state_.settings.drive) {
        refresh();
        return;
    }
    modelStore_.set<ModelField::macFreeBytes>(reading.freeBytes);
    modelStore_.set<ModelField::macTotalBytes>(reading.totalBytes);
    drives_.applyFullDiskAccess(reading.fullDiskAccess);
    drives_.apply(std::move(reading.chosenDrive));

    if (reading.records) {
        // Whichever list isn't kept, the old one or the one just read, is freed elsewhere.
        RecordList replaced = state_.records;
        if (modelStore_.set<ModelField::records>(*reading.records)) releaseElsewhere(std::move(replaced));
        releaseElsewhere(std::move(*reading.records));
        modelStore_.set<ModelField::otherDrives>(otherDrives(reading.otherDrives, state_.otherDrives));
        modelStore_.set<ModelField::hasBroughtFilesBack>(reading.hasBroughtFilesBack);
    }
    if (reading.pins) modelStore_.set<ModelField::pins>(std::move(*reading.pins));
    noteJournalRead(reading.journalError);

    if (reading.records) {
        auto restored = recentlyRestored(reading.restored, now(), state_.settings.minimumAgeDays);
        if (modelStore_.set<ModelField::recentlyRestored>(std::move(restored)))
            setEngine(makeEngine());
        // The rest of the reading is free once this returns.
        releaseFreedMemorySoon();
    }

    auto waiters = std::move(refreshWaiters_);
    refreshWaiters_.clear();
    for (auto& waiter : waiters) {
        waiter();
    }
}

void AppModel::noteJournalRead(const std::optional<std::string>& error) {
    // A journal that could not be opened stays the problem for the whole run.
    if (state_.journalProblem && !journalProblemIsRead_) return;
    journalProblemIsRead_ = error.has_value();
    modelStore_.set<ModelField::journalProblem>(error);
}

std::shared_ptr<EngineOperations> AppModel::makeEngine(std::optional<RuleList> rules) {
    assertMainThread();
    EngineSpec spec;
    spec.journal = journal_;
    spec.drive = state_.settings.drive.value_or(Drive{"", "No drive"});
    spec.locator = locator_;
    spec.configuration = engineConfiguration(state_.settings, state_.home);
    spec.rules = rules ? std::move(*rules) : scanRules();
    if (!state_.isSandboxed && services_.facts.iconPlacing)
        spec.icons = services_.facts.iconPlacing(PathUtil::join(state_.home, "Desktop"));
    if (!spec.icons) spec.icons = std::make_shared<NoIconPlacing>();
    return services_.engines(spec);
}

std::vector<std::string> AppModel::recentlyRestoredPaths() {
    assertMainThread();
    try {
        return recentlyRestored(journal_->records({Phase::restored}), now(), state_.settings.minimumAgeDays);
    } catch (const std::exception&) {
        return {};
    }
}

RuleList AppModel::scanRules() const { return keldwick::scanRules(state_); }

PlanBuilder AppModel::planBuilder(const std::vector<std::string>& folders, const DriveProfile& profile) const {
    return keldwick::planBuilder(state_, folders, profile);
}

void AppModel::scheduleCheck(std::optional<double> seconds) {
    assertMainThread();
    checkTask_.reset();
    const double interval = seconds ? *seconds : state_.settings.checkIntervalMinutes * 60.0;
    modelStore_.set<ModelField::nextCheck>(std::optional<Date>(now().adding(interval)));
    checkPending_ = true;
    checkTask_ = services_.timers->after(interval, [this] {
        checkPending_ = false;
        check([this] {
            scheduleCheckAfterCheck();
        });
    });
}

void AppModel::scheduleCheckAfterCheck() {
    assertMainThread();
    // A level changed or a wake while the check ran asked for one soon: the check that ends
    // here may have decided on what came before, so that one stays.
    const double interval = state_.settings.checkIntervalMinutes * 60.0;
    if (checkPending_ && state_.nextCheck && state_.nextCheck->timeIntervalSince(now()) < interval) return;
    scheduleCheck();
}

}  // namespace keldwick
