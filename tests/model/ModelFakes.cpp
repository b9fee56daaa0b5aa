#include "model/ModelFakes.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <QThread>
#include <algorithm>
#include <thread>

#include "scanning/SettingsStore.h"

namespace keldwick::test {

namespace {

class ManualTimer final : public Timer {
public:
    explicit ManualTimer(std::shared_ptr<bool> alive) : alive_(std::move(alive)) {}
    ~ManualTimer() override { *alive_ = false; }

private:
    std::shared_ptr<bool> alive_;
};

}  // namespace

std::unique_ptr<Timer> ManualTimers::after(double seconds, std::function<void()> fire) {
    auto alive = std::make_shared<bool>(true);
    entries_.push_back({clock_->now().secondsSince1970 + std::max(seconds, 0.0), nextOrder_++, std::move(fire), alive});
    return std::make_unique<ManualTimer>(alive);
}

void ManualTimers::advance(double seconds) {
    const double end = clock_->now().secondsSince1970 + seconds;
    while (true) {
        std::erase_if(entries_, [](const Entry& e) { return !*e.alive; });
        auto next = std::min_element(entries_.begin(), entries_.end(), [](const Entry& a, const Entry& b) {
            return a.due != b.due ? a.due < b.due : a.order < b.order;
        });
        if (next == entries_.end() || next->due > end) break;
        Entry entry = std::move(*next);
        entries_.erase(next);
        clock_->set(Date{std::max(entry.due, clock_->now().secondsSince1970)});
        *entry.alive = false;
        entry.fire();
        // Work the callback queued for the main thread runs before the next timer.
        QCoreApplication::processEvents();
    }
    clock_->set(Date{end});
}

void ManualTimers::jumpClock(double seconds) {
    for (auto& entry : entries_) entry.due += seconds;
    clock_->set(clock_->now().adding(seconds));
}

size_t ManualTimers::pending() const {
    return std::count_if(entries_.begin(), entries_.end(), [](const Entry& e) { return *e.alive; });
}

std::optional<double> ManualTimers::nextDue() const {
    std::optional<double> due;
    for (const auto& e : entries_)
        if (*e.alive && (!due || e.due < *due)) due = e.due;
    if (!due) return std::nullopt;
    return *due - clock_->now().secondsSince1970;
}

void CountingExecutor::run(WorkPriority priority, std::function<void()> work) {
    (priority == WorkPriority::user ? userRuns : backgroundRuns)++;
    {
        std::lock_guard guard(lock_);
        ++running_;
    }
    std::thread([this, work = std::move(work)]() mutable {
        work();
        work = nullptr;
        // Notified under the lock: once a waiter sees none running, this thread is done with us.
        std::lock_guard guard(lock_);
        --running_;
        idle_.notify_all();
    }).detach();
}

bool CountingExecutor::waitIdle(std::chrono::milliseconds limit) {
    std::unique_lock guard(lock_);
    return idle_.wait_for(guard, limit, [this] { return running_ == 0; });
}

void HeldExecutor::run(WorkPriority, std::function<void()> work) { work_.push_back(std::move(work)); }

void HeldExecutor::runHeld(size_t index) {
    auto work = std::move(work_.at(index));
    work_.erase(work_.begin() + static_cast<std::ptrdiff_t>(index));
    std::thread(std::move(work)).join();
}

JournalHold::JournalHold(Journal& journal) {
    thread_ = std::thread([this, &journal] {
        std::lock_guard held(journal.lock());
        std::unique_lock guard(lock_);
        holding_ = true;
        changed_.notify_all();
        changed_.wait_for(guard, std::chrono::seconds(10), [this] { return released_; });
    });
    std::unique_lock guard(lock_);
    changed_.wait(guard, [this] { return holding_; });
}

JournalHold::~JournalHold() {
    release();
    thread_.join();
}

void JournalHold::release() {
    std::lock_guard guard(lock_);
    released_ = true;
    changed_.notify_all();
}

RunSummary FakeEngine::run(const OffloadPlan& plan, bool dryRun, const Cancel& cancel, const Progress& progress) {
    std::string call = "run";
    for (const auto& item : plan.items) call += " " + item.path;
    note(std::move(call));
    if (onRun) return onRun(plan, dryRun, cancel, progress);
    return RunSummary{};
}
OffloadRecord FakeEngine::restore(int64_t id, const Cancel&, const Progress&) {
    note("restore " + std::to_string(id));
    return OffloadRecord{};
}
OffloadRecord FakeEngine::restoreAsCopy(int64_t id, const Cancel&, const Progress&) {
    note("restoreAsCopy " + std::to_string(id));
    return OffloadRecord{};
}
RunSummary FakeEngine::restoreAll(const Cancel&, const Progress&) {
    note("restoreAll");
    return RunSummary{};
}
void FakeEngine::discardDriveCopy(int64_t id) { note("discard " + std::to_string(id)); }

std::vector<std::string> FakeEngine::calls() {
    std::lock_guard guard(callsLock_);
    return calls_;
}

void FakeEngine::note(std::string call) {
    std::lock_guard guard(callsLock_);
    calls_.push_back(std::move(call));
}

std::vector<RecoveryResult> FakeEngine::recover() {
    ++recoverCalls;
    if (onRecover) return onRecover();
    return {};
}

EngineFactory EngineLog::factory() {
    return [this](const EngineSpec& spec) {
        auto engine = std::make_shared<FakeEngine>(spec);
        if (script) script(*engine);
        std::lock_guard guard(lock);
        built.push_back(engine);
        return engine;
    };
}

std::shared_ptr<FakeEngine> EngineLog::last() {
    std::lock_guard guard(lock);
    return built.empty() ? nullptr : built.back();
}

size_t EngineLog::count() {
    std::lock_guard guard(lock);
    return built.size();
}

ModelWorld::ModelWorld() {
    makeDirs(home);
    makeDirs(driveRoot);
}

ModelWorld::~ModelWorld() {
    // A refresh still reading asks this world's facts.
    executor->waitIdle();
}

void ModelWorld::writeReadySettings() {
    AppSettings settings;
    settings.onboardingComplete = true;
    settings.drive = drive;
    settings.managedFolders = {home + "/Downloads"};
    SettingsStore{support + "/settings.json"}.save(settings);
}

AppServices ModelWorld::services() {
    AppServices s;
    s.clock = clock;
    s.driveSystem = DriveOption::System::live(clock);
    s.timers = timers;
    s.background = executor;
    s.engines = engines->factory();
    s.notifier = notices;
    s.watcher = watcher;
    s.ejectGuard = ejectGuard;
    s.filePicker = picker;
    s.alerts = alerts;
    s.loginItem = loginItem;
    s.preferences = preferences;
    s.terminate = [this] { ++terminations; };
    s.facts.availableBytes = [this](const std::string&) { return freeBytes; };
    s.facts.totalBytes = [this](const std::string&) { return totalBytes; };
    s.facts.homeAccess = [this](const std::string&, const std::vector<std::string>&) {
        ++homeAccessProbes;
        return HomeAccess::Reading{homeAccess, refusedByMode, homeAccess ? std::nullopt : blockedBy};
    };
    s.facts.volumeInfo = [this](const std::string& path) -> std::optional<VolumeInfo> {
        auto found = volumes.find(path);
        if (found == volumes.end()) return std::nullopt;
        return found->second;
    };
    s.facts.driveNameAt = [](const std::string&) -> std::optional<std::string> { return std::nullopt; };
    s.facts.powerState = [this](const std::string& bsd) -> std::optional<DrivePowerState> {
        std::lock_guard<std::mutex> guard(powerLock_);
        ++powerReadings;
        auto found = powerStates_.find(bsd);
        if (found == powerStates_.end()) return std::nullopt;
        return found->second;
    };
    return s;
}

void ModelWorld::setPowerState(const std::string& kernelName, std::optional<DrivePowerState> state) {
    std::lock_guard<std::mutex> guard(powerLock_);
    if (state) powerStates_[kernelName] = *state;
    else powerStates_.erase(kernelName);
}

std::unique_ptr<AppModel> ModelWorld::make() {
    return std::make_unique<AppModel>(AppEnvironment{home, support, locator, {}}, services());
}

NewRecord recordOn(const std::string& path, const std::string& driveID, Phase phase, bool folder) {
    NewRecord r;
    r.originalPath = path;
    r.driveID = driveID;
    r.driveRelativePath = path.substr(path.rfind('/') + 1);
    r.isDirectory = folder;
    r.size = 1000;
    r.phase = phase;
    return r;
}

bool pumpUntil(const std::function<bool()>& done) {
    QElapsedTimer timer;
    timer.start();
    // Generous: under a loaded machine (the whole suite beside a build) a background read can
    // wait seconds for a thread; a wait that is never met still fails.
    while (!done()) {
        if (timer.elapsed() > 20000) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(1);
    }
    return true;
}

bool refreshed(AppModel& model) {
    bool applied = false;
    model.refresh([&applied] { applied = true; });
    return pumpUntil([&applied] { return applied; });
}

bool volumesRead(AppModel& model) {
    QEventLoop loop;
    bool acted = false;
    model.drives().volumesChanged([&] {
        acted = true;
        loop.quit();
    });
    QTimer::singleShot(20000, &loop, &QEventLoop::quit);
    // Quit from the answer itself: events posted after it wait for the test.
    if (!acted) loop.exec();
    return acted;
}

}  // namespace keldwick::test
