// The model's life under QCoreApplication with hand-driven time: start-up, the second
// instance, the journal problem, the engine runner across threads, and settings writes.

#include <gtest/gtest.h>

#include <QSignalSpy>
#include <sys/stat.h>
#include <unistd.h>

#include "model/ModelFakes.h"
#include "model/StatusTexts.h"
#include "scanning/SettingsStore.h"

namespace keldwick::test {
namespace {

class AppModelTest : public ::testing::Test {
protected:
    ModelWorld world;

    // A model over a ready setup and a plugged-in drive, started and past recovery.
    std::unique_ptr<AppModel> startedModel() {
        world.writeReadySettings();
        world.locator->set(world.drive.id, world.driveRoot);
        auto model = world.make();
        model->start();
        EXPECT_TRUE(pumpUntil([&] { return model->state().activity == Activity::idle; }));
        return model;
    }
};

// The lines the program says in its start-up log category, caught for one test.
std::vector<QString>* startupLines = nullptr;
QtMessageHandler passedOn = nullptr;
void catchStartupLine(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    if (startupLines && context.category && QByteArray(context.category) == "com.orvandel.Keldwick.startup") {
        startupLines->push_back(text);
        return;
    }
    if (passedOn) passedOn(type, context, text);
}

TEST_F(AppModelTest, StartsInOrderOnceThenChecksTenSecondsAfterRecovery) {
    world.writeReadySettings();
    world.locator->set(world.drive.id, world.driveRoot);
    auto model = world.make();
    int checks = 0;
    QObject::connect(&model->store(), &ModelStore::changed, [&](ModelFields fields) {
        if (fields.has(ModelField::nextCheck)) ++checks;
    });

    std::vector<QString> said;
    startupLines = &said;
    passedOn = qInstallMessageHandler(catchStartupLine);
    struct Restore {
        ~Restore() {
            qInstallMessageHandler(passedOn);
            startupLines = nullptr;
        }
    } restore;

    model->start();
    model->start();  // a second call does nothing

    EXPECT_TRUE(model->state().started);
    EXPECT_EQ(world.watcher->starts, 1);
    EXPECT_EQ(world.ejectGuard->starts, 1);
    EXPECT_TRUE(world.notices->onOpen);
    EXPECT_TRUE(world.watcher->onVolumesChanged && world.watcher->onDiskChanged && world.watcher->onWake);
    EXPECT_EQ(model->state().driveRoot, world.driveRoot);
    EXPECT_EQ(model->state().computerFreeBytes, 100'000'000'000);
    EXPECT_TRUE(model->state().canReadHome);
    EXPECT_TRUE(model->state().windowRequests.empty());  // setup is complete
    // Recovery runs at background priority, through the runner.
    EXPECT_EQ(model->state().activity, Activity::recovering);
    ASSERT_TRUE(pumpUntil([&] { return model->state().activity == Activity::idle; }));
    EXPECT_EQ(world.executor->backgroundRuns, 1);
    EXPECT_EQ(world.engines->last()->recoverCalls, 1);

    // No check before recovery ends; the first 10 s after it; then the regular interval.
    ASSERT_TRUE(model->state().nextCheck);
    EXPECT_EQ(model->state().nextCheck->timeIntervalSince(world.clock->now()), 10);
    EXPECT_TRUE(said.empty());  // start-up work isn't done before the first check
    world.timers->advance(10);
    ASSERT_TRUE(pumpUntil([&] { return !model->state().isChecking; }));
    ASSERT_TRUE(model->state().nextCheck);
    EXPECT_EQ(model->state().nextCheck->timeIntervalSince(world.clock->now()),
              model->state().settings.checkIntervalMinutes * 60.0);
    EXPECT_EQ(checks, 2);
    // Its end is said once, where the benchmark waits for it; later checks say nothing.
    EXPECT_EQ(said, std::vector<QString>{"Start-up recovery and the first check are done"});
    world.timers->advance(model->state().settings.checkIntervalMinutes * 60.0);
    ASSERT_TRUE(pumpUntil([&] { return !model->state().isChecking; }));
    EXPECT_EQ(said.size(), 1u);
}

// A check asked for while one runs (the keep-free level raised, a drive plugged in) is not
// dropped: the running one may have decided on what came before, so one more runs after it,
// however many asked meanwhile, and each asker hears when that one is done.
TEST_F(AppModelTest, AChecksAskedForDuringACheckRunOnceMoreAfterIt) {
    auto model = startedModel();
    // Each check starts by reading the journal and the free space on a worker.
    const int before = world.executor->userRuns;
    auto checks = [&] { return std::to_string(world.executor->userRuns - before); };
    std::vector<std::string> heard;
    model->checks().check([&] { heard.push_back("first, after " + checks()); });
    ASSERT_TRUE(model->state().isChecking);
    model->checks().check([&] { heard.push_back("second, after " + checks()); });
    model->checks().check([&] { heard.push_back("third, after " + checks()); });
    ASSERT_TRUE(pumpUntil([&] { return heard.size() == 3 && !model->state().isChecking; }));
    EXPECT_EQ(heard, (std::vector<std::string>{"first, after 1", "second, after 2", "third, after 2"}));
    EXPECT_EQ(checks(), "2");
}

// A check asked for soon while one runs (here after a wake) is not pushed back to the
// regular interval when the running one ends.
TEST_F(AppModelTest, ASoonerCheckAskedForDuringACheckStaysDue) {
    auto model = startedModel();
    world.timers->advance(10);  // the first check
    ASSERT_TRUE(model->state().isChecking);
    world.watcher->onWake();
    ASSERT_TRUE(pumpUntil([&] { return !model->state().isChecking; }));
    ASSERT_TRUE(model->state().nextCheck);
    EXPECT_EQ(model->state().nextCheck->timeIntervalSince(world.clock->now()), CheckController::afterWakeCheckDelay);
    const int before = world.executor->userRuns;
    world.timers->advance(CheckController::afterWakeCheckDelay);
    ASSERT_TRUE(pumpUntil([&] { return !model->state().isChecking && world.executor->userRuns > before; }));
    // Then the regular interval again.
    EXPECT_EQ(model->state().nextCheck->timeIntervalSince(world.clock->now()),
              model->state().settings.checkIntervalMinutes * 60.0);
}

TEST_F(AppModelTest, FirstStartAsksForOnboarding) {
    auto model = world.make();
    model->start();
    ASSERT_EQ(model->state().windowRequests.size(), 1u);
    EXPECT_EQ(model->state().windowRequests[0].window, AppWindow::onboarding);
}

TEST_F(AppModelTest, SecondInstanceIsRefusedAndNeverOpensTheJournal) {
    auto first = world.make();
    ASSERT_TRUE(first->holdsInstanceLock());
    EXPECT_EQ(first->journal()->path(), world.support + "/journal.sqlite");

    // The running instance's settings aren't read either: a damaged file stays where it is.
    test::writeFile(world.support + "/settings.json", "{ damaged");
    auto second = world.make();
    EXPECT_FALSE(second->holdsInstanceLock());
    EXPECT_EQ(second->journal()->path(), ":memory:");
    EXPECT_EQ(test::readFile(world.support + "/settings.json"), "{ damaged");
    EXPECT_FALSE(second->state().journalProblem);
    const int watcherStarts = world.watcher->starts;
    second->start();
    ASSERT_EQ(world.alerts->shown.size(), 1u);
    EXPECT_EQ(world.alerts->shown[0].first, "Keldwick is already running");
    EXPECT_EQ(world.alerts->shown[0].second, "Look for its icon in the system tray.");
    EXPECT_EQ(world.terminations, 1);
    EXPECT_EQ(world.watcher->starts, watcherStarts);
    EXPECT_EQ(world.timers->pending(), 0u);

    // Without a tray there is no icon to look for.
    auto third = world.make();
    third->setHasTray(false);
    third->start();
    ASSERT_EQ(world.alerts->shown.size(), 2u);
    EXPECT_EQ(world.alerts->shown[1].second, "It's running in another session, or it isn't answering.");
}

TEST_F(AppModelTest, TheDesktopServicesCallIntoTheRunningModelOnlyWhileItLives) {
    auto first = world.make();
    first->start();
    auto hooked = [&] {
        return world.notices->onOpen && world.watcher->onVolumesChanged && world.watcher->onDiskChanged &&
               world.watcher->onWake && world.ejectGuard->shouldRefuse && world.ejectGuard->postNotice;
    };
    ASSERT_TRUE(hooked());
    // A refused eject is told with a title, as every notice is.
    world.ejectGuard->postNotice("Try ejecting again in a few seconds.");
    ASSERT_FALSE(world.notices->posted.empty());
    EXPECT_EQ(world.notices->posted.back().title, "Keldwick is using your drive");
    EXPECT_EQ(world.notices->posted.back().body, "Try ejecting again in a few seconds.");
    postNotice(*world.notices, Notice{"", "A body alone.", NoticeTarget::menu, std::nullopt});
    EXPECT_EQ(world.notices->posted.back().title, "Keldwick");
    // A refused second instance hooks nothing, so going it leaves the first one's hooks.
    auto second = world.make();
    second->start();
    second.reset();
    EXPECT_TRUE(hooked());
    first.reset();
    EXPECT_FALSE(world.notices->onOpen || world.watcher->onVolumesChanged || world.watcher->onDiskChanged ||
                 world.watcher->onWake || world.ejectGuard->shouldRefuse || world.ejectGuard->postNotice);
}

TEST_F(AppModelTest, JournalThatCannotOpenFallsBackToMemoryAndSaysWhy) {
    makeDirs(world.support + "/journal.sqlite");  // a folder where the database should be
    auto model = world.make();
    ASSERT_TRUE(model->state().journalProblem);
    EXPECT_FALSE(model->state().journalProblem->empty());
    EXPECT_EQ(model->journal()->path(), ":memory:");
    EXPECT_FALSE(canOffload(model->state()));
    // The stand-in reads fine, but the journal on disk stays the problem.
    ASSERT_TRUE(refreshed(*model));
    EXPECT_TRUE(model->state().journalProblem);
}

TEST_F(AppModelTest, ObservedFieldsNotifyOnlyOnRealChange) {
    world.writeReadySettings();
    world.locator->set(world.drive.id, world.driveRoot);
    auto model = world.make();
    ASSERT_TRUE(refreshed(*model));
    const auto engine = model->engine();
    FieldChanges anything(model->store(), ModelField::records);
    FieldChanges free(model->store(), ModelField::computerFreeBytes);
    FieldChanges engines(model->store(), ModelField::engine);
    ASSERT_TRUE(refreshed(*model));
    EXPECT_EQ(anything.count(), 0);
    EXPECT_EQ(free.count(), 0);
    EXPECT_EQ(engines.count(), 0);
    EXPECT_EQ(model->engine(), engine);

    world.freeBytes = 5;
    model->journal()->insert(recordOn(world.home + "/a.mov", world.drive.id));
    ASSERT_TRUE(refreshed(*model));
    EXPECT_EQ(free.count(), 1);
    EXPECT_EQ(anything.count(), 1);
    EXPECT_EQ(model->state().records.size(), 1u);
}

TEST_F(AppModelTest, WindowRequestsAreDistinctAndSettingsRemembersItsTab) {
    auto model = world.make();
    FieldChanges requests(model->store(), ModelField::windowRequests);
    model->requestWindow(AppWindow::preview);
    model->requestWindow(AppWindow::preview);
    EXPECT_EQ(requests.count(), 2);
    EXPECT_NE(model->state().windowRequests[0], model->state().windowRequests[1]);
    model->showSettings(SettingsTab::drive);
    model->showSettings();
    EXPECT_EQ(model->state().settingsTab, SettingsTab::drive);
    EXPECT_EQ(model->state().windowRequests.size(), 4u);
    EXPECT_FALSE(model->state().windowRequests[3].window);
    model->clearWindowRequests();
    EXPECT_TRUE(model->state().windowRequests.empty());
}

TEST_F(AppModelTest, FirstRunDeclineIsADateOrNothing) {
    auto model = world.make();
    EXPECT_FALSE(model->settings().firstRunDeclinedAt());
    model->settings().setFirstRunDeclinedAt(Date{1'800'000'000});
    EXPECT_EQ(model->settings().firstRunDeclinedAt(), Date{1'800'000'000});
    world.preferences->setValue("firstRunDeclinedAt", "yesterday");
    EXPECT_FALSE(model->settings().firstRunDeclinedAt());
    model->settings().setFirstRunDeclinedAt(std::nullopt);
    EXPECT_FALSE(world.preferences->value("firstRunDeclinedAt"));
}

// ---- The engine runner ----

TEST_F(AppModelTest, RunnerReturnsAnErrorAfterSettlingAndRefreshing) {
    auto model = world.make();
    model->journal()->insert(recordOn(world.home + "/a.mov", world.drive.id));
    bool called = false;
    model->operations().perform<int>(
        Activity::moving, nullptr,
        [](EngineOperations&, const EngineOperations::Cancel&, const EngineOperations::Progress&) -> int {
            throw std::runtime_error("The drive is full.");
        },
        [&](EngineOutcome<int> outcome) {
            called = true;
            EXPECT_FALSE(outcome.succeeded());
            EXPECT_EQ(outcome.errorText(), "The drive is full.");
            EXPECT_EQ(model->state().activity, Activity::idle);
            EXPECT_FALSE(model->state().progress);
            EXPECT_FALSE(model->operations().currentJob());
            EXPECT_EQ(model->state().records.size(), 1u);  // refreshed first
        });
    EXPECT_EQ(model->state().activity, Activity::moving);
    EXPECT_TRUE(model->operations().currentJob());
    ASSERT_TRUE(pumpUntil([&] { return called; }));
}

TEST_F(AppModelTest, RunnerCarriesProgressAndStopAcrossThreadsAndKeepsItsEngine) {
    world.writeReadySettings();
    world.locator->set(world.drive.id, world.driveRoot);
    auto model = world.make();
    ASSERT_TRUE(refreshed(*model));
    auto engineAtStart = model->engine();
    std::atomic<bool> reported{false};
    std::atomic<bool> stopped{false};
    FieldChanges progress(model->store(), ModelField::progress);
    std::optional<EngineOutcome<std::string>> result;
    model->operations().perform<std::string>(
        Activity::moving, nullptr,
        [&](EngineOperations& engine, const EngineOperations::Cancel& cancel,
            const EngineOperations::Progress& report) {
            report(EngineProgress{"a.mov", 0, 2, 10, 20});
            reported = true;
            while (!cancel->isCancelled()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
            stopped = true;
            return engine.drive().name;
        },
        [&](EngineOutcome<std::string> outcome) { result = std::move(outcome); });
    // The move holds the drive; an unmount of it is refused and stops the work.
    EXPECT_EQ(world.ejectGuard->held, std::vector<std::string>{world.driveRoot});
    ASSERT_TRUE(pumpUntil([&] { return model->state().progress.has_value(); }));
    EXPECT_EQ(model->state().progress->itemName, "a.mov");
    model->settings().update([](AppSettings& s) { s.drive = Drive{"other-id", "Spare"}; });  // rebuilds the engine
    EXPECT_NE(model->engine(), engineAtStart);
    EXPECT_FALSE(model->operations().shouldRefuseEject("/media/u/Other"));
    EXPECT_FALSE(stopped);
    model->operations().currentJob()->cancel();
    ASSERT_TRUE(pumpUntil([&] { return result.has_value(); }));
    ASSERT_TRUE(result->succeeded());
    EXPECT_EQ(*result->value, "Archive");  // the engine taken at the start
    EXPECT_GE(progress.count(), 2);        // the report, then none again
    EXPECT_EQ(world.ejectGuard->releases, 1);
}

TEST_F(AppModelTest, ProgressAfterTheModelIsGoneIsDropped) {
    auto model = world.make();
    std::mutex gate;
    gate.lock();
    std::atomic<bool> finished{false};
    bool doneCalled = false;
    model->operations().perform<int>(
        Activity::restoring, nullptr,
        [&](EngineOperations&, const EngineOperations::Cancel&, const EngineOperations::Progress& report) {
            std::lock_guard wait(gate);
            report(EngineProgress{"late", 0, 1, 0, 0});
            finished = true;
            return 1;
        },
        [&](EngineOutcome<int>) { doneCalled = true; });
    model.reset();
    gate.unlock();
    ASSERT_TRUE(pumpUntil([&] { return finished.load(); }));
    for (int i = 0; i < 20; ++i) QCoreApplication::processEvents();
    EXPECT_FALSE(doneCalled);
}

TEST_F(AppModelTest, UnmountIsRefusedOnlyForTheDriveWhileMovingOrRestoring) {
    world.writeReadySettings();
    world.locator->set(world.drive.id, world.driveRoot);
    struct Case {
        Activity activity;
        std::string path;
        bool refused;
    };
    const std::vector<Case> cases = {
        {Activity::moving, "drive", true},      {Activity::restoring, "drive", true},
        {Activity::scanning, "drive", false},   {Activity::clearing, "drive", false},
        {Activity::recovering, "drive", false}, {Activity::moving, "other", false},
    };
    for (const auto& c : cases) {
        auto model = world.make();
        ASSERT_TRUE(refreshed(*model));
        const std::string path = c.path == "drive" ? world.driveRoot : world.dir / "other";
        bool done = false;
        model->operations().perform<int>(
            c.activity, nullptr,
            [](EngineOperations&, const EngineOperations::Cancel& cancel, const EngineOperations::Progress&) {
                while (!cancel->isCancelled()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
                return 0;
            },
            [&](EngineOutcome<int>) { done = true; });
        EXPECT_EQ(model->operations().shouldRefuseEject(path), c.refused) << static_cast<int>(c.activity) << " " << c.path;
        EXPECT_EQ(model->operations().currentJob()->isCancelled(), c.refused);
        model->operations().currentJob()->cancel();
        ASSERT_TRUE(pumpUntil([&] { return done; }));
    }
}

mode_t modeOf(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return 0;
    return st.st_mode & 07777;
}

// The records name the drive and every moved path: another user of this computer must
// read none of them, whether they are new or an earlier version left them wide open.
TEST_F(AppModelTest, RecordsArePrivateAfterStart) {
    const mode_t old = ::umask(022);
    {
        auto model = world.make();
        model->start();
        model->settings().update(SettingsChanges::togglePaused());
        model->journal()->pin(world.home + "/kept");
        EXPECT_EQ(modeOf(world.support), 0700u);
        for (const char* name : {"settings.json", "journal.sqlite", "journal.sqlite-wal", "journal.sqlite-shm",
                                 "keldwick.lock"}) {
            EXPECT_EQ(modeOf(world.support + "/" + name), 0600u) << name;
        }
    }
    ::umask(old);

    // Left readable by an earlier version: narrowed at the next start.
    ::chmod(world.support.c_str(), 0755);
    for (const char* name : {"settings.json", "journal.sqlite", "keldwick.lock"}) {
        ::chmod((world.support + "/" + name).c_str(), 0644);
    }
    auto model = world.make();
    EXPECT_EQ(modeOf(world.support), 0700u);
    for (const char* name : {"settings.json", "journal.sqlite", "keldwick.lock"}) {
        EXPECT_EQ(modeOf(world.support + "/" + name), 0600u) << name;
    }
}

// Damaged settings set aside at start are not silent: a notice and the panel say so, and
// that the moved files are still listed and safe.
TEST_F(AppModelTest, DamagedSettingsSetAsideAreAnnounced) {
    writeFile(world.support + "/settings.json", "{ not json");
    auto model = world.make();
    EXPECT_TRUE(model->state().settingsSetAside);
    EXPECT_EQ(readFile(world.support + "/settings.json.corrupt"), "{ not json");
    model->start();
    ASSERT_EQ(world.notices->posted.size(), 1u);
    EXPECT_EQ(world.notices->posted[0].title, "Keldwick's settings were damaged");
    EXPECT_NE(world.notices->posted[0].body.find("The files it moved are still listed and safe."), std::string::npos);
    EXPECT_EQ(statusText(model->state()).headline, "Keldwick's settings were damaged");

    // A start with good settings says nothing of it.
    model.reset();
    world.notices->posted.clear();
    world.writeReadySettings();
    auto again = world.make();
    EXPECT_FALSE(again->state().settingsSetAside);
}

// Keldwick.conf as a FIFO would hang any read of it: its preferences never open it, keep
// their values for the run, and a file set aside at the start is announced.
TEST_F(AppModelTest, APreferencesFileThatIsNoFileIsNeverOpenedAndItsSettingAsideIsAnnounced) {
    const std::string path = world.dir / "config/Keldwick.conf";
    makeDirs(world.dir / "config");
    ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
    StoredPreferences blocked(path);
    EXPECT_EQ(blocked.value("firstRunDeclinedAt"), std::nullopt);
    blocked.setValue("firstRunDeclinedAt", "2026-01-01T00:00:00Z");
    EXPECT_EQ(blocked.value("firstRunDeclinedAt"), "2026-01-01T00:00:00Z");
    ASSERT_EQ(::unlink(path.c_str()), 0);
    StoredPreferences kept(path);
    kept.setValue("firstRunDeclinedAt", "2026-01-01T00:00:00Z");
    EXPECT_EQ(StoredPreferences(path).value("firstRunDeclinedAt"), "2026-01-01T00:00:00Z");

    world.writeReadySettings();
    world.preferences = std::make_shared<StoredPreferences>(path, true);
    auto model = world.make();
    model->start();
    ASSERT_EQ(world.notices->posted.size(), 1u);
    EXPECT_EQ(world.notices->posted[0].title, "Keldwick set aside a damaged file");
    EXPECT_NE(world.notices->posted[0].body.find("Keldwick.conf.corrupt"), std::string::npos);
}

}  // namespace
}  // namespace keldwick::test
