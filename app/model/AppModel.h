#pragma once
// The program's one model: it lives on the main thread (every entry asserts it), holds the
// observed state the menu and the windows show (a ModelState) and the objects behind it
// (journal, engine, settings store, tasks), and runs everything the program does.
//
// Observers connect to the store's one change signal, which names the fields that moved;
// a field is announced only when its value really changed (a write compares first), so a
// refresh that finds nothing new notifies no one. Appending a window request always
// notifies (its token is fresh).
//
// Asynchronous operations take a continuation that is called on the main thread when
// they end, and never if the model is gone by then. Engine work leaves the main thread
// only as a job of operations(); everything else the model does runs on the main thread,
// with its waits as injected timers.
//
// The settings, the drives, the operations on the engine, the automatic check and the start
// have controllers of their own (settings(), drives(), operations(), checks(), and the
// start's), which the model wires to what follows from them. The rest is spread over
// AppModel*.cpp by concern: the state and window requests (AppModel.cpp), start, refresh
// and pins (AppModelStartup.cpp), the preview and hand-picked moves (AppModelRuns.cpp),
// and caches (AppModelCaches.cpp).

#include <QObject>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "drives/DriveProfile.h"
#include "foundation/InstanceLock.h"
#include "foundation/Journal.h"
#include "model/AppEnvironment.h"
#include "model/AppServices.h"
#include "model/BackgroundWork.h"
#include "model/CheckController.h"
#include "model/ChosenMove.h"
#include "model/DriveController.h"
#include "model/LatestJob.h"
#include "model/MainThread.h"
#include "model/MainThreadRelay.h"
#include "model/ModelState.h"
#include "model/ModelStore.h"
#include "model/OperationsController.h"
#include "model/OnboardingModel.h"
#include "model/PreviewModel.h"
#include "model/RefreshReading.h"
#include "model/RunOutcome.h"
#include "model/ScanFindings.h"
#include "model/SettingsController.h"
#include "model/SpaceCalls.h"
#include "model/StartupController.h"
#include "scanning/PlanBuilder.h"

namespace keldwick {

class AppModel final : public QObject,
                       private OperationsController::Steps,
                       private CheckController::Steps,
                       private StartupController::Steps {
    Q_OBJECT

public:
    using Done = std::function<void()>;

    // Builds the model: takes the single-instance lock, then loads the settings and opens
    // the journal in the support folder (only with the lock: a second instance never
    // touches them), and builds the engine. A journal that can't be opened is replaced by one in
    // memory, and journalProblem says why; nothing moves then.
    AppModel(AppEnvironment environment, AppServices services, QObject* parent = nullptr);
    // With the single-instance lock the launch took already (none: the model tries).
    AppModel(AppEnvironment environment, AppServices services, std::unique_ptr<InstanceLock> instanceLock,
             QObject* parent = nullptr);
    ~AppModel() override;

    // ---- State ----
    const ModelState& state() const { return state_; }
    // The state's owner and its one change signal.
    ModelStore& store() { return modelStore_; }
    const std::string& home() const { return state_.home; }
    const std::string& support() const { return support_; }
    const std::shared_ptr<Journal>& journal() const override { return journal_; }
    const std::shared_ptr<EngineOperations>& engine() const override { return engine_; }
    AppServices& services() { return services_; }
    // Work off the main thread whose result comes back only while the model lives.
    const BackgroundWork& work() const { return work_; }
    // The settings' one write path and the preferences beside them.
    SettingsController& settings() { return settings_; }
    // The chosen drive, the volumes around it and home access.
    DriveController& drives() { return drives_; }
    // Runs, restores, drive copies deleted and recovery, each a job.
    OperationsController& operations() { return operations_; }
    // The automatic check and its timer.
    CheckController& checks() { return checks_; }
    // The first-run guide's choices, kept for the program's life.
    OnboardingModel& onboarding() { return onboarding_; }
    bool holdsInstanceLock() const { return instanceLock_ != nullptr; }

    // Moving, restoring or recovering: quitting waits for these.
    bool isBusy() const;

    // ---- Windows ----
    void requestWindow(AppWindow window) override;
    // Opens the settings window, on `tab` when given, else on the tab it showed last.
    void showSettings(std::optional<SettingsTab> tab = std::nullopt);
    // The settings window's tab changed: it reopens on that tab.
    void setSettingsTab(SettingsTab tab);
    // The tray icon opened every queued window.
    void clearWindowRequests();
    void setFilesTab(FilesTab tab);

    // ---- Start-up, refresh, drive events ----
    // Once: refuses a second instance, or hooks up the desktop services, reads the first
    // status, watches the drive's wake state, asks for onboarding when setup is not
    // complete, then runs start-up recovery and schedules the first check 10 s later.
    void start();
    // Whether the desktop has a tray, known once the program shows its icon (before
    // start): the texts that point at the tray follow it.
    void setHasTray(bool hasTray);
    // Reloads free space, home access, the drive, records, other drives, pins and
    // recently restored paths; rebuilds the engine when the recently restored paths changed.
    // The disk is read on a background thread and the values are applied on the main
    // thread; only the latest refresh applies (one overtaken by a newer one is dropped).
    // `done` is called once a refresh started at or after this call has applied, never if
    // the model is gone by then. A journal that can't be read keeps the records and pins
    // shown before and is reported in journalProblem until a read succeeds.
    void refresh(Done done = {}) override;
    // A new engine for the chosen drive with `rules` (the scan rules when none).
    std::shared_ptr<EngineOperations> makeEngine(std::optional<RuleList> rules = std::nullopt);
    // Original paths of items brought back within the minimum age, in journal order.
    std::vector<std::string> recentlyRestoredPaths();
    void openTarget(NoticeTarget target) override;

    // ---- Scans ----
    RuleList scanRules() const;

    // ---- Pins ----
    // Keeps items on the computer from now on, each pinned with its folder resolved; the
    // engine gets the new rules and the stall is forgotten.
    void pin(const std::vector<std::string>& paths) override;
    void reloadPins();

    // ---- The preview ----
    // After an automatic run: an open preview that waits for nothing scans again.
    void refreshPreview() override;
    // The preview the preview window shows; none when closed. Opening one replaces it.
    std::shared_ptr<PreviewModel> preview() const { return preview_; }
    // Makes the one preview: its goal and scope by kind, then the given findings or a scan.
    // Without a drive only the window is asked for.
    void openPreview(PreviewKind kind, std::optional<int64_t> goal, std::optional<ScanFindings> findings,
                     bool showWindow) override;
    // Runs the preview's plan. Approving and dropping the preview happen at once, before
    // the window closes, so a first automatic run approved is never taken for a decline.
    void approvePreview(std::shared_ptr<PreviewModel> preview, Done done = {});
    // The window of `closed` went away: when that is still the open preview, a first
    // automatic run not approved is a decline, and the preview is dropped.
    void previewClosed(const PreviewModel* closed);
    void dismissPreview();
    void clearFilesProblem();

    // ---- Hand-picked moves ----
    // Moves the paths like a run with the rules for chosen items; gives the problem to
    // show (a refusal or the run's first failure), none when there is nothing to say.
    void moveToDrive(const std::vector<std::string>& paths,
                     std::function<void(std::optional<std::string>)> done = {});
    // The open panel, then the move of what was chosen.
    void chooseFilesToMove();

    // ---- Caches and system data (measured and cleared on a background thread) ----
    void cacheLocations(std::function<void(std::vector<CacheLocation>)> done,
                        WorkPriority priority = WorkPriority::user) override;
    // Shows "clearing" when nothing else runs; then refreshes and logs what was freed.
    void clearCaches(std::vector<CacheLocation> locations, std::function<void(CacheClearing)> done = {},
                     WorkPriority priority = WorkPriority::user) override;
    void movableSystemData(std::function<void(std::vector<MovableData>)> done);

signals:
    // A notice whose target is the panel was clicked: the program shows the panel.
    void panelRequested();

private:
    void setEngine(std::shared_ptr<EngineOperations> engine);
    Date now() const { return services_.clock->now(); }
    void post(const Notice& notice) override;
    // refresh() read on the calling thread: start-up shows its first status complete.
    void refreshNow() override;
    RefreshSources refreshSources() const;
    void applyRefresh(RefreshReading reading);
    // What a settings write calls for beyond the settings.
    void followSettings(const SettingsFollowUps& followUps);
    void noteJournalRead(const std::optional<std::string>& error);
    // The journal's pins into the state; none when they can't be read.
    void loadPins();
    void setPreview(std::shared_ptr<PreviewModel> preview);
    std::string reportChosenProblem(const ChosenProblem& problem);
    // The last run's line, the once-a-day notices and clearings are kept in the journal, so
    // a restart neither forgets the line nor repeats what was limited to once a day.
    void setLastRun(std::string text) override;
    void setLastStallNotice(std::optional<StallNotice> notice) override;
    void stampAutomaticCacheClear() override;
    void loadMarks();
    void saveMark(const std::string& name, const JournalMark& mark);

    AppServices services_;
    ModelStore modelStore_;
    const ModelState& state_ = modelStore_.state();  // read here, written through modelStore_
    std::string support_;
    std::shared_ptr<DriveLocating> locator_;
    std::unique_ptr<InstanceLock> instanceLock_;
    std::shared_ptr<Journal> journal_;
    std::shared_ptr<EngineOperations> engine_;
    // The journal's stamp when the listed records were read, and the restored ones read
    // with them: a refresh while the stamp holds reads no record again.
    std::optional<Journal::ChangeStamp> recordsStamp_;
    RecordList restored_;
    std::vector<Done> refreshWaiters_;    // called when the latest refresh applies
    bool journalProblemIsRead_ = false;   // journalProblem tells of a failed read, not of opening
    OwnedRelay relay_;
    BackgroundWork work_;
    LatestJob refreshJob_{work_};  // the newest refresh reading
    SettingsController settings_;
    DriveController drives_;
    OnboardingModel onboarding_;
    OperationsController operations_;
    CheckController checks_;
    StartupController startup_;
    std::shared_ptr<PreviewModel> preview_;
};

}  // namespace keldwick
