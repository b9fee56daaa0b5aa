#pragma once
// Stand-ins for the model's services: hand-driven time, a scripted engine, and desktop
// services that record what the model asked of them. With these a test runs a day of
// the model's life instantly under QCoreApplication.

#include <QCoreApplication>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "drives/FolderDriveLocator.h"
#include "model/AppModel.h"
#include "support/FakeDriveLocator.h"
#include "support/ManualClock.h"
#include "support/TempDir.h"

namespace keldwick::test {

// Timers that fire when the test advances time; the clock moves with them.
class ManualTimers final : public Timers {
public:
    explicit ManualTimers(std::shared_ptr<ManualClock> clock) : clock_(std::move(clock)) {}

    std::unique_ptr<Timer> after(double seconds, std::function<void()> fire) override;

    // Moves time forward by `seconds`, firing every timer that falls due, in order of due
    // time (and of arming, for equal times); timers armed meanwhile fire too when due.
    void advance(double seconds);
    // Sets the wall clock forward or back by `seconds` at once, firing nothing: timers
    // count elapsed time, as the program's do, so each still fires after its own delay.
    void jumpClock(double seconds);
    // Timers still pending.
    size_t pending() const;
    // Seconds until the next pending timer; none without one.
    std::optional<double> nextDue() const;

private:
    struct Entry {
        double due;
        uint64_t order;
        std::function<void()> fire;
        std::shared_ptr<bool> alive;
    };
    std::shared_ptr<ManualClock> clock_;
    std::vector<Entry> entries_;
    uint64_t nextOrder_ = 0;
};

// Runs work on a real thread (engine work must leave the main thread) and counts it.
class CountingExecutor final : public BackgroundExecutor {
public:
    void run(WorkPriority priority, std::function<void()> work) override;
    // Waits until no work runs (a test's world must outlive the work reading it); false
    // when some is still running after `limit`.
    bool waitIdle(std::chrono::milliseconds limit = std::chrono::seconds(10));
    std::atomic<int> userRuns{0};
    std::atomic<int> backgroundRuns{0};

private:
    std::mutex lock_;
    std::condition_variable idle_;
    int running_ = 0;
};

// Keeps work until the test runs it, in the order the test chooses.
class HeldExecutor final : public BackgroundExecutor {
public:
    void run(WorkPriority priority, std::function<void()> work) override;
    size_t held() const { return work_.size(); }
    // Runs the work held at `index` on another thread and waits for it to end.
    void runHeld(size_t index);

private:
    std::vector<std::function<void()>> work_;
};

// Holds the journal's lock on another thread, as a long write or a slow disk would,
// until release() or ten seconds have passed.
class JournalHold {
public:
    explicit JournalHold(Journal& journal);
    ~JournalHold();
    void release();

private:
    std::mutex lock_;
    std::condition_variable changed_;
    bool holding_ = false;
    bool released_ = false;
    std::thread thread_;
};

// An engine whose operations are scripted by the test. Unscripted calls do nothing.
class FakeEngine final : public EngineOperations {
public:
    explicit FakeEngine(EngineSpec spec) : spec(std::move(spec)) {}

    const Drive& drive() const override { return spec.drive; }
    RunSummary run(const OffloadPlan& plan, bool dryRun, const Cancel& cancel, const Progress& progress) override;
    OffloadRecord restore(int64_t recordID, const Cancel& cancel, const Progress& progress) override;
    OffloadRecord restoreAsCopy(int64_t recordID, const Cancel& cancel, const Progress& progress) override;
    RunSummary restoreAll(const Cancel& cancel, const Progress& progress) override;
    void discardDriveCopy(int64_t recordID) override;
    std::vector<RecoveryResult> recover() override;

    EngineSpec spec;
    std::function<RunSummary(const OffloadPlan&, bool, const Cancel&, const Progress&)> onRun;
    std::function<std::vector<RecoveryResult>()> onRecover;
    std::atomic<int> recoverCalls{0};

    // The operations asked of the engine, in order: "run /a /b", "restore 5",
    // "restoreAsCopy 5", "restoreAll", "discard 5".
    std::vector<std::string> calls();

private:
    void note(std::string call);
    std::mutex callsLock_;
    std::vector<std::string> calls_;
};

// Every engine the model built, in order.
struct EngineLog {
    std::mutex lock;
    std::vector<std::shared_ptr<FakeEngine>> built;
    // Applied to each new engine before the model gets it.
    std::function<void(FakeEngine&)> script;

    EngineFactory factory();
    std::shared_ptr<FakeEngine> last();
    size_t count();
};

struct PostedNotice {
    std::string identifier, title, body;
    NoticeTarget target;
    bool operator==(const PostedNotice&) const = default;
};

class RecordingNotices final : public NoticePosting {
public:
    void post(const std::string& identifier, const std::string& title, const std::string& body,
              NoticeTarget target) override {
        if (isEnabled) posted.push_back({identifier, title, body, target});
    }
    std::vector<PostedNotice> posted;
};

class FakeDriveEvents final : public DriveEvents {
public:
    void start() override { ++starts; }
    int starts = 0;
};

class FakeEjectGuard final : public EjectGuarding {
public:
    void start() override { ++starts; }
    bool holdVolume(const std::string& path) override {
        held.push_back(path);
        return true;
    }
    void releaseVolume() override { ++releases; }
    int starts = 0;
    std::vector<std::string> held;
    int releases = 0;
};

class RecordingAlerts final : public AlertPresenter {
public:
    void present(const std::string& message, const std::string& informative) override {
        shown.emplace_back(message, informative);
    }
    std::vector<std::pair<std::string, std::string>> shown;
};

class ScriptedPicker final : public FilePicker {
public:
    std::optional<std::vector<std::string>> pick(const PickRequest& request) override {
        requests.push_back(request);
        return answer;
    }
    std::optional<std::vector<std::string>> answer;
    std::vector<PickRequest> requests;
};

class RecordingLoginItem final : public LoginItem {
public:
    void set(bool on) override {
        calls.push_back(on);
        if (fails) throw std::runtime_error("autostart folder is read-only");
    }
    std::vector<bool> calls;
    bool fails = false;
};

// Counts the store's announcements of one field, as a signal spy counts emissions.
class FieldChanges {
public:
    FieldChanges(ModelStore& store, ModelField field) {
        QObject::connect(&store, &ModelStore::changed, &receiver_, [this, field](ModelFields fields) {
            if (fields.has(field)) ++count_;
        });
    }
    int count() const { return count_; }

private:
    QObject receiver_;  // ends the connection with the counter
    int count_ = 0;
};

// A model world in a temporary folder: home, support folder, a drive folder found by a
// FolderDriveLocator, and every service faked. `make()` builds the model.
struct ModelWorld {
    TempDir dir;
    std::string home = dir / "home";
    std::string support = dir / "support";
    std::string driveRoot = dir / "drive";
    Drive drive{"6F1C2A5E-0000-4000-8000-000000000001", "Archive"};

    std::shared_ptr<ManualClock> clock = std::make_shared<ManualClock>();
    std::shared_ptr<ManualTimers> timers = std::make_shared<ManualTimers>(clock);
    std::shared_ptr<CountingExecutor> executor = std::make_shared<CountingExecutor>();
    std::shared_ptr<EngineLog> engines = std::make_shared<EngineLog>();
    std::shared_ptr<RecordingNotices> notices = std::make_shared<RecordingNotices>();
    std::shared_ptr<FakeDriveEvents> watcher = std::make_shared<FakeDriveEvents>();
    std::shared_ptr<FakeEjectGuard> ejectGuard = std::make_shared<FakeEjectGuard>();
    std::shared_ptr<RecordingAlerts> alerts = std::make_shared<RecordingAlerts>();
    std::shared_ptr<ScriptedPicker> picker = std::make_shared<ScriptedPicker>();
    std::shared_ptr<RecordingLoginItem> loginItem = std::make_shared<RecordingLoginItem>();
    std::shared_ptr<Preferences> preferences = std::make_shared<MemoryPreferences>();
    int terminations = 0;
    bool homeAccess = true;
    // What the probe finds besides: folders closed by their own mode, and the one that blocks.
    std::vector<std::string> refusedByMode;
    std::optional<std::string> blockedBy;
    int homeAccessProbes = 0;
    std::optional<int64_t> freeBytes = 100'000'000'000;
    std::optional<int64_t> totalBytes = 500'000'000'000;
    std::map<std::string, VolumeInfo> volumes;                // by mount path
    // The power state a disk reads as (by kernel name), read off the main thread.
    void setPowerState(const std::string& kernelName, std::optional<DrivePowerState> state);
    std::atomic<int> powerReadings{0};
    std::shared_ptr<FakeDriveLocator> locator = std::make_shared<FakeDriveLocator>();

    ModelWorld();
    ~ModelWorld();

private:
    std::mutex powerLock_;
    std::map<std::string, DrivePowerState> powerStates_;

public:
    // Setup complete with the drive chosen, one managed folder, written to settings.json.
    void writeReadySettings();
    AppServices services();
    std::unique_ptr<AppModel> make();
};

// A record of an item of 1,000 bytes moved to the drive `driveID`, named like the item there.
NewRecord recordOn(const std::string& path, const std::string& driveID, Phase phase = Phase::offloaded,
                   bool folder = false);

// Runs the event loop until `done` holds or about five seconds pass; false on timeout.
bool pumpUntil(const std::function<bool()>& done);

// Refreshes the model and runs the event loop until that refresh has applied.
bool refreshed(AppModel& model);

// Reports a mount change and runs the event loop until the model has acted on it, and no
// further: what that started (a recovery) is still under way.
bool volumesRead(AppModel& model);

}  // namespace keldwick::test
