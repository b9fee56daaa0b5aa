#include "model/AppModel.h"

#include "foundation/Log.h"
#include "foundation/PathUtil.h"
#include "foundation/PrivateFolder.h"
#include "model/StatusTexts.h"

namespace keldwick {

namespace {

constexpr const char* lastRunMark = "lastRun";
constexpr const char* cacheClearMark = "lastAutomaticCacheClear";

std::string stallNoticeMark(Stall kind) {
    switch (kind) {
        case Stall::nothingToMove: return "lastStallNotice.nothingToMove";
        case Stall::driveFull: return "lastStallNotice.driveFull";
        case Stall::testRun: return "lastStallNotice.testRun";
    }
    return "lastStallNotice";
}

}  // namespace

AppModel::AppModel(AppEnvironment environment, AppServices services, QObject* parent)
    : AppModel(std::move(environment), std::move(services), nullptr, parent) {}

AppModel::AppModel(AppEnvironment environment, AppServices services, std::unique_ptr<InstanceLock> instanceLock,
                   QObject* parent)
    : QObject(parent),
      services_(std::move(services)),
      support_(std::move(environment.support)),
      locator_(std::move(environment.locator)),
      relay_(this),
      work_(services_.background, relay_.shared()),
      settings_(modelStore_, PathUtil::join(support_, "settings.json"), services_.notifier, services_.preferences,
                services_.loginItem),
      drives_(modelStore_, services_, locator_, settings_, work_),
      onboarding_(modelStore_, settings_, drives_, work_, services_.filePicker),
      operations_(modelStore_, services_, *this),
      checks_(modelStore_, services_, settings_, operations_, *this, work_),
      startup_(modelStore_, services_, drives_, operations_, checks_, *this) {
    assertMainThread();
    modelStore_.edit({}, [&](ModelState& state) {
        state.home = std::move(environment.home);
        state.moveEntry = std::move(environment.moveEntry);
    });
    PrivateFolder::secureAtStart(support_);

    // The lock comes before the settings and the journal: a second instance must not
    // read what the first one is writing, nor open, migrate or recover its journal. It
    // only shows its alert at start().
    instanceLock_ = std::move(instanceLock);
    if (!instanceLock_) instanceLock_ = InstanceLock::acquire(PathUtil::join(support_, "keldwick.lock"));
    if (instanceLock_) {
        settings_.load();
        try {
            const std::string journalPath = PathUtil::join(support_, "journal.sqlite");
            PrivateFolder::createFile(journalPath);
            journal_ = Journal::open(journalPath, services_.clock);
        } catch (const std::exception& e) {
            modelStore_.edit({}, [&](ModelState& state) { state.journalProblem = e.what(); });
        }
    }
    if (!journal_) journal_ = Journal::inMemory(services_.clock);

    std::vector<std::string> pins;
    try {
        pins = journal_->pins();
    } catch (const std::exception&) {
        pins.clear();
    }
    auto restored = recentlyRestoredPaths();
    modelStore_.edit({}, [&](ModelState& state) {
        state.pins = std::move(pins);
        state.recentlyRestored = std::move(restored);
    });
    loadMarks();
    engine_ = makeEngine();

    connect(&settings_, &SettingsController::followUps, this, &AppModel::followSettings);
    connect(&drives_, &DriveController::connected, this, [this] {
        operations_.recoverInterrupted([this] {
            checks_.check();
        });
    });
    connect(&drives_, &DriveController::accessGranted, this, [this] { checks_.scheduleCheck(rescheduleSoonSeconds); });
    connect(&onboarding_, &OnboardingModel::finished, this, [this] { checks_.startChecking(); });
}

void AppModel::followSettings(const SettingsFollowUps& followUps) {
    if (followUps.driveChanged) drives_.forgetLocations();
    if (followUps.rebuildEngine) setEngine(makeEngine());
    if (followUps.driveChanged) {
        drives_.refreshDrive();
        drives_.watchDriveWake();
    }
    if (followUps.clearStall) modelStore_.set<ModelField::stall>(std::nullopt);
    if (followUps.askFirstChosen && preview_) preview_->setKeepAsking(*state_.settings.askFirstChoice);
    switch (followUps.reschedule) {
        case CheckReschedule::soon:
            checks_.scheduleCheck(rescheduleSoonSeconds);
            break;
        case CheckReschedule::regularInterval:
            checks_.scheduleCheck();
            break;
        case CheckReschedule::none:
            break;
    }
}

void AppModel::loadMarks() {
    modelStore_.edit({}, [this](ModelState& state) {
        try {
            if (auto run = journal_->mark(lastRunMark)) {
                state.lastRun = run->value;
                state.lastRunDate = run->at;
            }
            if (auto cleared = journal_->mark(cacheClearMark)) state.lastAutomaticCacheClear = cleared->at;
            for (Stall kind : {Stall::nothingToMove, Stall::driveFull, Stall::testRun}) {
                auto posted = journal_->mark(stallNoticeMark(kind));
                if (posted && (!state.lastStallNotice || state.lastStallNotice->date < posted->at))
                    state.lastStallNotice = StallNotice{kind, posted->at};
            }
        } catch (const std::exception& error) {
            Log::error("app", std::string("Couldn't read the last run from the journal: ") + error.what());
        }
    });
}

void AppModel::saveMark(const std::string& name, const JournalMark& mark) {
    try {
        journal_->setMark(name, mark);
    } catch (const std::exception& error) {
        // Only the memory across a restart is lost; the run itself stands.
        Log::error("app", "Couldn't keep " + name + " in the journal: " + error.what());
    }
}

void AppModel::setLastRun(std::string text) {
    const Date at = now();
    saveMark(lastRunMark, {at, text});
    modelStore_.set<ModelField::lastRun>(std::optional(std::move(text)));
    modelStore_.set<ModelField::lastRunDate>(std::optional(at));
}

void AppModel::setLastStallNotice(std::optional<StallNotice> notice) {
    if (notice && notice != state_.lastStallNotice) saveMark(stallNoticeMark(notice->kind), {notice->date, ""});
    modelStore_.set<ModelField::lastStallNotice>(std::move(notice));
}

void AppModel::stampAutomaticCacheClear() {
    const Date at = now();
    saveMark(cacheClearMark, {at, ""});
    modelStore_.set<ModelField::lastAutomaticCacheClear>(std::optional(at));
}

// Work still running keeps its engine and journal (shared); what it hands back from now
// on is dropped, its relay closed with the model.
AppModel::~AppModel() = default;

bool AppModel::isBusy() const { return keldwick::isBusy(state_.activity); }

void AppModel::requestWindow(AppWindow window) {
    assertMainThread();
    modelStore_.edit(ModelField::windowRequests,
                     [&](ModelState& state) { state.windowRequests.push_back(WindowRequest::make(window)); });
}

void AppModel::showSettings(std::optional<SettingsTab> tab) {
    assertMainThread();
    if (tab) modelStore_.set<ModelField::settingsTab>(*tab);
    modelStore_.edit(ModelField::windowRequests,
                     [](ModelState& state) { state.windowRequests.push_back(WindowRequest::make(std::nullopt)); });
}

void AppModel::setSettingsTab(SettingsTab tab) {
    assertMainThread();
    modelStore_.set<ModelField::settingsTab>(tab);
}

void AppModel::clearWindowRequests() {
    assertMainThread();
    modelStore_.set<ModelField::windowRequests>(std::vector<WindowRequest>{});
}

void AppModel::setHasTray(bool hasTray) {
    assertMainThread();
    modelStore_.set<ModelField::hasTray>(hasTray);
}

void AppModel::setFilesTab(FilesTab tab) {
    assertMainThread();
    modelStore_.set<ModelField::filesTab>(tab);
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
            emit panelRequested();
            break;
    }
}

void AppModel::setEngine(std::shared_ptr<EngineOperations> engine) {
    if (engine == engine_) return;
    engine_ = std::move(engine);
    modelStore_.announce(ModelField::engine);
}

void AppModel::post(const Notice& notice) {
    postNotice(*services_.notifier, notice);
}

}  // namespace keldwick
