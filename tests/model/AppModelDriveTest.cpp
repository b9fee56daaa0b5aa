// The model reacting to the world: drives mounting slowly, unplugged and plugged in, a
// hard disk waking, permission granted, notice clicks, recovery's report, settings writes.

#include <gtest/gtest.h>

#include <QSignalSpy>
#include <QThread>

#include "foundation/Clock.h"
#include "model/DriveLog.h"
#include "model/ModelFakes.h"
#include "model/StatusTexts.h"
#include "scanning/SettingsStore.h"
#include "support/CapturedLog.h"

namespace keldwick::test {
namespace {

class AppModelDriveTest : public ::testing::Test {
protected:
    void SetUp() override { world.writeReadySettings(); }

    // Started, recovery done and the first check scheduled.
    std::unique_ptr<AppModel> started() {
        auto model = world.make();
        model->start();
        EXPECT_TRUE(pumpUntil([&] { return model->state().activity == Activity::idle; }));
        return model;
    }

    ModelWorld world;
};

TEST_F(AppModelDriveTest, MountWatchMarksMountingAfterTheGraceThenStuckOrMounted) {
    struct Case {
        std::optional<double> mountedAfter;  // seconds after the disk appeared
        std::optional<DriveMounting> expected;
        std::vector<std::string> log;
    };
    const double t0 = 1'800'000'000;
    const std::vector<Case> cases = {
        {std::nullopt, DriveMounting{Date{t0 + 2}, true},
         {"Drive plugged in; the system is mounting it", "The system hasn't mounted the drive after 2 minutes"}},
        {30, std::nullopt, {"Drive plugged in; the system is mounting it", "Drive mounted after 28 s", "Drive connected"}},
        {1, std::nullopt, {"Drive connected"}},  // mounted within the grace: never reported
    };
    CapturedLog driveLog(keldwickDriveLog());
    for (const auto& c : cases) {
        driveLog.clear();
        world.clock->set(Date{t0});
        auto model = world.make();
        ASSERT_TRUE(refreshed(*model));
        model->drives().diskChanged("sdb1", DiskVolume{"VOL-UUID", "Archive", std::nullopt});
        EXPECT_FALSE(model->state().driveMounting);
        EXPECT_TRUE(model->drives().isMountWatchRunning());
        if (c.mountedAfter) {
            world.timers->advance(*c.mountedAfter);
            world.locator->set(world.drive.id, world.driveRoot);
            model->drives().diskChanged("sdb1", DiskVolume{"VOL-UUID", "Archive", world.driveRoot});
            ASSERT_TRUE(volumesRead(*model));
            EXPECT_EQ(model->state().settings.driveVolumeUUID, "VOL-UUID");
        }
        world.timers->advance(200 - c.mountedAfter.value_or(0));
        EXPECT_EQ(model->state().driveMounting, c.expected);
        EXPECT_EQ(driveLog.lines(), c.log);
        world.locator->set(world.drive.id, std::nullopt);
    }
}

TEST(AppModelUnplugTest, UnpluggingPostsDriveOfflineOnlyWithItemsOnIt) {
    for (int items : {0, 1, 3}) {
        ModelWorld world;
        CapturedLog driveLog(keldwickDriveLog());
        world.writeReadySettings();
        world.locator->set(world.drive.id, world.driveRoot);
        auto model = world.make();
        model->start();
        ASSERT_TRUE(pumpUntil([&] { return model->state().activity == Activity::idle; }));
        for (int i = 0; i < items; ++i)
            model->journal()->insert(recordOn(world.home + "/f" + std::to_string(i), world.drive.id));
        ASSERT_TRUE(refreshed(*model));
        world.locator->set(world.drive.id, std::nullopt);
        ASSERT_TRUE(volumesRead(*model));
        ASSERT_TRUE(volumesRead(*model));  // still gone: nothing more
        EXPECT_EQ(driveLog.lines(), std::vector<std::string>{"Drive disconnected"});
        if (items == 0) {
            EXPECT_TRUE(world.notices->posted.empty());
            continue;
        }
        ASSERT_EQ(world.notices->posted.size(), 1u) << items;
        const auto& notice = world.notices->posted[0];
        EXPECT_EQ(notice.identifier, "drive-offline");
        EXPECT_EQ(notice.title, "Archive was unplugged");
        EXPECT_EQ(notice.body, (items == 1 ? "1 file" : "3 files") +
                                   std::string(" on it won't open until you plug it back in."));
        EXPECT_EQ(notice.target, NoticeTarget::offloaded);
    }
}

TEST_F(AppModelDriveTest, PluggingInRecoversThenChecks) {
    CapturedLog driveLog(keldwickDriveLog());
    auto model = started();
    const int recoveries = world.engines->last()->recoverCalls;
    world.locator->set(world.drive.id, world.driveRoot);
    ASSERT_TRUE(volumesRead(*model));
    EXPECT_EQ(model->state().activity, Activity::recovering);
    ASSERT_TRUE(pumpUntil([&] { return model->state().activity == Activity::idle; }));
    int total = 0;
    for (auto& engine : world.engines->built) total += engine->recoverCalls;
    EXPECT_EQ(total, recoveries + 1);
    ASSERT_FALSE(driveLog.lines().empty());
    EXPECT_EQ(driveLog.lines().back(), "Drive connected");
}

// A bring-back an unplug cut short is settled when its drive comes back, without a
// restart: an earlier drive's as the chosen one's, and one that comes back while other
// work runs once that work has ended.
TEST_F(AppModelDriveTest, ADriveComingBackSettlesWhatItsUnplugCutShort) {
    auto model = started();
    const auto recoveries = [&] {
        int total = 0;
        for (auto& engine : world.engines->built) total += engine->recoverCalls;
        return total;
    };
    model->journal()->insert(recordOn(world.home + "/Tilecraft", "OLD-ID"));
    model->services().facts.driveNameAt = [](const std::string&) { return std::optional<std::string>("Spare"); };
    ASSERT_TRUE(refreshed(*model));
    const int before = recoveries();
    world.locator->set("OLD-ID", world.dir / "spare");
    ASSERT_TRUE(volumesRead(*model));
    EXPECT_EQ(model->state().activity, Activity::recovering);
    ASSERT_TRUE(pumpUntil([&] { return model->state().activity == Activity::idle; }));
    EXPECT_EQ(recoveries(), before + 1);
    ASSERT_TRUE(volumesRead(*model));  // nothing came: nothing more
    EXPECT_EQ(recoveries(), before + 1);

    // The chosen drive back while a restore of other items still runs.
    world.locator->set(world.drive.id, std::nullopt);
    ASSERT_TRUE(volumesRead(*model));
    std::atomic<bool> release{false};
    bool restored = false;
    model->operations().perform<int>(
        Activity::restoring, nullptr,
        [&](EngineOperations&, const EngineOperations::Cancel&, const EngineOperations::Progress&) {
            while (!release) std::this_thread::sleep_for(std::chrono::milliseconds(1));
            return 0;
        },
        [&](EngineOutcome<int>) { restored = true; });
    world.locator->set(world.drive.id, world.driveRoot);
    ASSERT_TRUE(volumesRead(*model));
    EXPECT_EQ(recoveries(), before + 1) << "nothing beside the running work";
    release = true;
    ASSERT_TRUE(pumpUntil([&] { return restored && model->state().activity == Activity::idle && recoveries() == before + 2; }));
}

TEST(AppModelUnplugTest, ARefreshBetweenTheUnmountAndItsReportHidesNeitherGoingNorComing) {
    ModelWorld world;
    CapturedLog driveLog(keldwickDriveLog());
    world.writeReadySettings();
    world.locator->set(world.drive.id, world.driveRoot);
    auto model = world.make();
    model->start();
    ASSERT_TRUE(pumpUntil([&] { return model->state().activity == Activity::idle; }));
    model->journal()->insert(recordOn(world.home + "/f", world.drive.id));
    ASSERT_TRUE(refreshed(*model));

    // A problem the files window shows is about the drive as it was.
    model->moveToDrive({world.home + "/gone"}, nullptr);
    ASSERT_TRUE(model->state().filesProblem);
    world.notices->posted.clear();

    // Unplugged: the panel's refresh reads the volumes before the watcher reports.
    world.locator->set(world.drive.id, std::nullopt);
    ASSERT_TRUE(refreshed(*model));
    EXPECT_FALSE(model->state().driveRoot);
    ASSERT_TRUE(volumesRead(*model));
    ASSERT_EQ(world.notices->posted.size(), 1u);
    EXPECT_EQ(world.notices->posted[0].title, "Archive was unplugged");
    EXPECT_FALSE(model->state().filesProblem);

    // Plugged back in, the same way round: recovered, then checked.
    int recoveries = 0;
    for (auto& engine : world.engines->built) recoveries += engine->recoverCalls;
    world.locator->set(world.drive.id, world.driveRoot);
    ASSERT_TRUE(refreshed(*model));
    ASSERT_TRUE(volumesRead(*model));
    EXPECT_EQ(model->state().activity, Activity::recovering);
    ASSERT_TRUE(pumpUntil([&] { return model->state().activity == Activity::idle; }));
    int total = 0;
    for (auto& engine : world.engines->built) total += engine->recoverCalls;
    EXPECT_EQ(total, recoveries + 1);
    EXPECT_EQ(driveLog.lines(), (std::vector<std::string>{"Drive disconnected", "Drive connected"}));
}

// A mount change is read on a worker: a locator stuck on a slow volume holds up neither
// the main thread nor the change it reports once it answers.
TEST_F(AppModelDriveTest, AMountChangeIsReadOffTheMainThread) {
    auto model = started();
    ASSERT_TRUE(world.executor->waitIdle());
    std::atomic<bool> release{false};
    std::atomic<int> askedOnMain{0};
    world.locator->whenAsked = [&] {
        if (QThread::currentThread() == QCoreApplication::instance()->thread()) {
            ++askedOnMain;
            return;
        }
        while (!release) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    };
    world.locator->set(world.drive.id, world.driveRoot);
    bool acted = false;
    model->drives().volumesChanged([&] { acted = true; });
    EXPECT_FALSE(model->state().driveRoot);
    release = true;
    ASSERT_TRUE(pumpUntil([&] { return acted && model->state().activity == Activity::idle; }));
    EXPECT_EQ(model->state().driveRoot, world.driveRoot);
    EXPECT_EQ(askedOnMain, 0);
    ASSERT_TRUE(world.executor->waitIdle());
    world.locator->whenAsked = nullptr;
}

// Unplugged and plugged back in before the first reading answers: the newest reading is
// the one acted on, and the older one, answering last, is dropped.
TEST(AppModelUnplugTest, ABurstOfMountChangesActsOnlyOnTheNewestReading) {
    ModelWorld world;
    std::atomic<bool> holdNames{false};
    std::atomic<bool> held{false};
    std::atomic<bool> release{false};
    CapturedLog driveLog(keldwickDriveLog());
    world.writeReadySettings();
    world.locator->set(world.drive.id, world.driveRoot);
    world.locator->set("OLD-ID", world.dir / "spare");
    auto model = world.make();
    model->start();
    ASSERT_TRUE(pumpUntil([&] { return model->state().activity == Activity::idle; }));
    model->journal()->insert(recordOn(world.home + "/f", world.drive.id));
    model->journal()->insert(recordOn(world.home + "/old", "OLD-ID"));
    // The other drive's name is read after the chosen drive's place: the first reading
    // holds there, having read the drive gone.
    model->services().facts.driveNameAt = [&](const std::string&) {
        if (holdNames.exchange(false)) {
            held = true;
            while (!release) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return std::optional<std::string>("Spare");
    };
    ASSERT_TRUE(refreshed(*model));
    ASSERT_TRUE(world.executor->waitIdle());
    driveLog.clear();
    world.notices->posted.clear();

    world.locator->set(world.drive.id, std::nullopt);
    holdNames = true;
    model->drives().volumesChanged();
    ASSERT_TRUE(pumpUntil([&] { return held.load(); }));
    world.locator->set(world.drive.id, world.driveRoot);
    ASSERT_TRUE(volumesRead(*model));
    release = true;
    ASSERT_TRUE(world.executor->waitIdle());
    QCoreApplication::processEvents();  // the older answer, handed back
    EXPECT_EQ(model->state().driveRoot, world.driveRoot);
    EXPECT_EQ(model->state().otherDrives.at("OLD-ID"), (DriveStatus{"Spare", true}));
    EXPECT_TRUE(driveLog.lines().empty());
    EXPECT_TRUE(world.notices->posted.empty());
}

TEST_F(AppModelDriveTest, WakeWatchReadsOffTheMainThreadAndShowsAStandbyDiskWaking) {
    AppSettings settings = SettingsStore{world.support + "/settings.json"}.load();
    settings.driveProfile = DriveProfile{DriveHardware(DriveHardware::Medium::rotational), std::nullopt};
    SettingsStore{world.support + "/settings.json"}.save(settings);
    world.locator->set(world.drive.id, world.driveRoot);
    VolumeInfo volume;
    volume.mountPath = world.driveRoot;
    volume.name = "Archive";
    volume.kernelName = "sdb1";
    world.volumes[world.driveRoot] = volume;
    world.setPowerState("sdb1", DrivePowerState(1, 4, 9000));  // in standby, idle for a while
    auto model = started();
    ASSERT_TRUE(model->drives().isWakeWatchRunning());
    ASSERT_TRUE(pumpUntil([&] { return model->state().wakeState == DriveWakeState::asleep; }));

    // Work reaches the disk still in standby: it reads asleep with fresh activity.
    world.setPowerState("sdb1", DrivePowerState(1, 4, 100));
    world.timers->advance(1);
    ASSERT_TRUE(pumpUntil([&] { return model->state().wakeState == DriveWakeState::waking; }));
    EXPECT_EQ(statusText(model->state()).headline, "Waking up Archive\u2026");

    // Spun up.
    world.setPowerState("sdb1", DrivePowerState(4, 4, 0));
    world.timers->advance(1);
    ASSERT_TRUE(pumpUntil([&] { return model->state().wakeState == DriveWakeState::awake; }));

    world.locator->set(world.drive.id, std::nullopt);
    ASSERT_TRUE(volumesRead(*model));
    EXPECT_FALSE(model->drives().isWakeWatchRunning());
    EXPECT_EQ(model->state().wakeState, DriveWakeState::awake);

    // A solid-state drive is never watched.
    settings.driveProfile = DriveProfile{DriveHardware(DriveHardware::Medium::solidState), std::nullopt};
    SettingsStore{world.support + "/settings.json"}.save(settings);
    model.reset();
    world.locator->set(world.drive.id, world.driveRoot);
    auto ssd = world.make();
    ASSERT_TRUE(refreshed(*ssd));
    ssd->drives().watchDriveWake();
    EXPECT_FALSE(ssd->drives().isWakeWatchRunning());
    ssd.reset();

    // A hard disk whose first reading tells nothing is not watched.
    settings.driveProfile = DriveProfile{DriveHardware(DriveHardware::Medium::rotational), std::nullopt};
    SettingsStore{world.support + "/settings.json"}.save(settings);
    world.setPowerState("sdb1", std::nullopt);
    const int before = world.powerReadings;
    auto unknown = started();
    ASSERT_TRUE(pumpUntil([&] { return world.powerReadings > before && !unknown->drives().isWakeWatchRunning(); }));
    EXPECT_EQ(unknown->state().wakeState, DriveWakeState::awake);
}

TEST_F(AppModelDriveTest, NewlyGrantedAccessSchedulesACheckOnlyOnceSetupIsComplete) {
    struct Case {
        bool setupComplete;
        bool scheduled;
        int probes;
    };
    const std::vector<Case> cases = {{true, true, 4}, {false, false, 4}};
    for (const auto& c : cases) {
        AppSettings settings;
        settings.onboardingComplete = c.setupComplete;
        SettingsStore{world.support + "/settings.json"}.save(settings);
        world.homeAccess = false;
        world.homeAccessProbes = 0;
        auto model = world.make();
        model->start();
        ASSERT_TRUE(pumpUntil([&] { return model->state().activity == Activity::idle; }));
        EXPECT_FALSE(model->state().canReadHome);
        const auto firstCheck = model->state().nextCheck;
        world.homeAccess = true;
        model->drives().refreshHomeAccess();
        EXPECT_TRUE(model->state().canReadHome);
        const auto afterGrant = model->state().nextCheck;
        model->drives().refreshHomeAccess();  // already granted: nothing new
        EXPECT_EQ(model->state().nextCheck, afterGrant);
        if (c.scheduled) {
            ASSERT_TRUE(afterGrant);
            EXPECT_EQ(afterGrant->timeIntervalSince(world.clock->now()), 2);
        } else {
            EXPECT_EQ(afterGrant, firstCheck);
        }
        EXPECT_EQ(world.homeAccessProbes, c.probes);
    }
}

TEST_F(AppModelDriveTest, NoticeClicksOpenTheirWindows) {
    auto model = world.make();
    QSignalSpy panel(model.get(), &AppModel::panelRequested);
    model->openTarget(NoticeTarget::menu);
    EXPECT_TRUE(model->state().windowRequests.empty());
    EXPECT_EQ(panel.count(), 1);
    model->openTarget(NoticeTarget::offloaded);
    model->openTarget(NoticeTarget::preview);
    ASSERT_EQ(model->state().windowRequests.size(), 2u);
    EXPECT_EQ(model->state().windowRequests[0].window, AppWindow::offloaded);
    EXPECT_EQ(model->state().windowRequests[1].window, AppWindow::preview);
}

TEST_F(AppModelDriveTest, ShowTheFolderShowsTheOneThatRefusesAndSaysWhetherAnythingDid) {
    auto model = world.make();
    std::vector<std::string> opened;
    bool answers = true;
    model->services().openURL = [&](const std::string& url) {
        opened.push_back(url);
        return answers;
    };
    EXPECT_EQ(model->drives().openHomeAccessSettings(), FolderShowing{});  // none refuses
    EXPECT_TRUE(opened.empty());

    // A folder closed by its own mode is named, doesn't block, and is the one shown.
    world.refusedByMode = {world.home + "/Music"};
    model->drives().refreshHomeAccess();
    EXPECT_TRUE(model->state().canReadHome);
    EXPECT_EQ(model->state().foldersRefusedByMode, world.refusedByMode);
    EXPECT_EQ(model->drives().openHomeAccessSettings(), (FolderShowing{world.home + "/Music", true}));

    // The one that blocks comes first; with no file manager answering, nothing showed it.
    world.homeAccess = false;
    world.blockedBy = world.home + "/Documents";
    answers = false;
    EXPECT_EQ(model->drives().openHomeAccessSettings(), (FolderShowing{world.home + "/Documents", false}));
    EXPECT_EQ(opened.back(), "file://" + world.home);
}

TEST_F(AppModelDriveTest, OtherDrivesKeepTheNameLearnedWhilePlugged) {
    world.locator->set(world.drive.id, world.driveRoot);
    auto model = world.make();
    model->journal()->insert(recordOn(world.home + "/old", "OLD-ID"));
    model->journal()->insert(recordOn(world.home + "/new", world.drive.id));
    model->services().facts.driveNameAt = [](const std::string&) { return std::optional<std::string>("Spare"); };
    world.locator->set("OLD-ID", world.dir / "spare");
    ASSERT_TRUE(refreshed(*model));
    EXPECT_EQ(model->state().otherDrives.at("OLD-ID"), (DriveStatus{"Spare", true}));
    world.locator->set("OLD-ID", std::nullopt);
    ASSERT_TRUE(volumesRead(*model));
    EXPECT_EQ(model->state().otherDrives.at("OLD-ID"), (DriveStatus{"Spare", false}));
    for (const auto& record : model->state().records) {
        const auto status = model->drives().driveStatus(record);
        const DriveStatus expected =
            record.driveID == "OLD-ID" ? DriveStatus{"Spare", false} : DriveStatus{"Archive", true};
        EXPECT_EQ(status, expected);
    }
}

// ---- Recovery's report ----

TEST_F(AppModelDriveTest, RecoveryReportsFinishedMovesAndRemovedShortcuts) {
    struct Case {
        std::vector<RecoveryAction> actions;
        std::optional<std::string> lastRun;
        std::optional<std::string> noticeTitle;
    };
    using A = RecoveryAction;
    const std::vector<Case> cases = {
        {{}, std::nullopt, std::nullopt},
        {{A::relinked, A::adopted, A::unchanged}, std::nullopt, std::nullopt},
        {{A::rolledBack}, "Finished an interrupted move of “a0”. Nothing was lost.", std::nullopt},
        {{A::rolledBack, A::rolledForward}, "Finished 2 interrupted moves. Nothing was lost.", std::nullopt},
        {{A::markedLinkMissing, A::markedLinkMissing, A::markedLinkMissing}, std::nullopt,
         "3 shortcuts were removed"},
    };
    std::optional<std::string> shown;
    for (const auto& c : cases) {
        world.notices->posted.clear();
        world.engines->script = [&](FakeEngine& engine) {
            engine.onRecover = [actions = c.actions] {
                std::vector<RecoveryResult> results;
                for (size_t i = 0; i < actions.size(); ++i)
                    results.push_back(RecoveryResult{int64_t(i + 1), "a" + std::to_string(i), actions[i], std::nullopt});
                return results;
            };
        };
        auto model = started();
        // A recovery with nothing to say leaves the line of an earlier start, kept by the journal.
        if (c.lastRun) shown = c.lastRun;
        EXPECT_EQ(model->state().lastRun, shown);
        EXPECT_EQ(model->state().lastRunDate.has_value(), shown.has_value());
        if (c.noticeTitle) {
            ASSERT_EQ(world.notices->posted.size(), 1u);
            EXPECT_EQ(world.notices->posted[0].title, *c.noticeTitle);
            EXPECT_EQ(world.notices->posted[0].body,
                      "The files are still safe on Archive. Click to bring them back or delete them.");
            EXPECT_EQ(world.notices->posted[0].target, NoticeTarget::offloaded);
        } else {
            EXPECT_TRUE(world.notices->posted.empty());
        }
    }
}

TEST_F(AppModelDriveTest, AMoveRecoveryUndidIsToldAsUndoneAndStaysSoAfterARestart) {
    int64_t id = 0;
    {
        Journal journal(world.support + "/journal.sqlite", Clock::system());
        id = journal.insert(recordOn(world.home + "/bigbackup.tar", world.drive.id)).id;
        journal.setPhase(id, Phase::abandoned);
    }
    world.engines->script = [id](FakeEngine& engine) {
        engine.onRecover = [id] {
            return std::vector<RecoveryResult>{{id, "bigbackup.tar", RecoveryAction::rolledBack, std::nullopt}};
        };
    };
    const std::string line = "Undid an interrupted move of \u201Cbigbackup.tar\u201D. It's still on your computer.";
    started().reset();
    auto restarted = world.make();
    EXPECT_EQ(restarted->state().lastRun, line);
}

TEST_F(AppModelDriveTest, RecoveryWaitsForNothingWhileWorkRuns) {
    auto model = started();
    const auto before = world.engines->last()->recoverCalls.load();
    std::atomic<bool> release{false};
    bool moved = false;
    model->operations().perform<int>(
        Activity::moving, nullptr,
        [&](EngineOperations&, const EngineOperations::Cancel&, const EngineOperations::Progress&) {
            while (!release) std::this_thread::sleep_for(std::chrono::milliseconds(1));
            return 0;
        },
        [&](EngineOutcome<int>) { moved = true; });
    bool recovered = false;
    model->operations().recoverInterrupted([&] { recovered = true; });
    EXPECT_TRUE(recovered);  // returned at once
    release = true;
    ASSERT_TRUE(pumpUntil([&] { return moved; }));
    EXPECT_EQ(world.engines->last()->recoverCalls, before);
}

// ---- Settings writes ----

TEST_F(AppModelDriveTest, EachSettingsWriteStartsItsFollowUps) {
    struct Case {
        std::string name;
        std::function<void(SettingsController&)> write;
        bool newEngine;
        std::optional<double> checkIn;  // seconds from now; none: unchanged
    };
    // A change made through the one write path, as the windows make it.
    const auto write = [](SettingsChange change) { return [change](SettingsController& m) { m.update(change); }; };
    const std::vector<Case> cases = {
        {"approve", [](SettingsController& m) { m.approveAutomaticRuns(); }, false, std::nullopt},
        {"ask first", write(SettingsChanges::toggleAutomaticRunsApproved()), false, std::nullopt},
        {"pause", write(SettingsChanges::togglePaused()), false, 2},
        {"resume", [](SettingsController& m) { m.togglePaused(true); }, false, std::nullopt},  // already moving
        {"keep free", write(SettingsChanges::setThresholdBytes(40'000'000'000)), false, 2},
        {"gigabytes", write(SettingsChanges::setGigabytes(70.9, &AppSettings::targetBytes)), false, 2},
        {"add folder", write(SettingsChanges::appendManagedFolders({"/x"})), false, 2},
        {"remove missing", write(SettingsChanges::removeManagedFolder("/nowhere")), false, std::nullopt},
        {"volume uuid", [](SettingsController& m) { m.setDriveVolumeUUID("U"); }, false, std::nullopt},
        {"other drive",
         [](SettingsController& m) { m.update([](AppSettings& s) { s.drive = Drive{"B", "Spare"}; }); }, true, 2},
        {"rename drive",
         [](SettingsController& m) { m.update([](AppSettings& s) { s.drive->name = "Renamed"; }); }, true, 2},
        {"interval", [](SettingsController& m) { m.update([](AppSettings& s) { s.checkIntervalMinutes = 5; }); },
         false, 300},
        {"notifications",
         [](SettingsController& m) { m.update([](AppSettings& s) { s.notificationsEnabled = false; }); }, false,
         std::nullopt},
    };
    for (const auto& c : cases) {
        auto model = started();
        model->settings().setDriveVolumeUUID("OLD");
        const auto engine = model->engine();
        const auto nextCheck = model->state().nextCheck;
        c.write(model->settings());
        EXPECT_EQ(model->engine() != engine, c.newEngine) << c.name;
        // Every engine is built with the user's home, where items are taken back.
        EXPECT_EQ(world.engines->last()->spec.configuration.homeFolder, world.home) << c.name;
        if (c.checkIn) {
            ASSERT_TRUE(model->state().nextCheck) << c.name;
            EXPECT_EQ(model->state().nextCheck->timeIntervalSince(world.clock->now()), *c.checkIn) << c.name;
        } else {
            EXPECT_EQ(model->state().nextCheck, nextCheck) << c.name;
        }
        EXPECT_EQ(SettingsStore{world.support + "/settings.json"}.load(), model->state().settings) << c.name;
        EXPECT_EQ(world.notices->isEnabled, model->state().settings.notificationsEnabled) << c.name;
        if (c.name == "other drive") {
            EXPECT_FALSE(model->state().settings.driveVolumeUUID);
        }
        if (c.name == "rename drive") {
            EXPECT_EQ(model->state().settings.driveVolumeUUID, "OLD");
        }
        world.writeReadySettings();
    }
}

TEST_F(AppModelDriveTest, NothingIsScheduledBeforeSetupIsComplete) {
    AppSettings settings;
    SettingsStore{world.support + "/settings.json"}.save(settings);
    auto model = started();
    const auto nextCheck = model->state().nextCheck;
    model->settings().update(SettingsChanges::togglePaused());
    model->settings().update(SettingsChanges::setThresholdBytes(0));
    model->settings().update([](AppSettings& s) { s.drive = Drive{"B", "Spare"}; });
    EXPECT_EQ(model->state().nextCheck, nextCheck);
    EXPECT_EQ(model->state().settings.thresholdBytes, 1'000'000'000);
    EXPECT_EQ(model->state().settings.targetBytes, 5'000'000'000);
}

TEST_F(AppModelDriveTest, AFailedSaveKeepsTheChangeAndStaysVisibleUntilASaveWorks) {
    auto model = world.make();
    std::filesystem::remove(world.support + "/settings.json");
    // A folder stands where the file goes, and can't be set aside either.
    makeDirs(world.support + "/settings.json");
    makeDirs(world.support + "/settings.json.corrupt/full");
    FieldChanges problems(model->store(), ModelField::settingsProblem);
    model->settings().update(SettingsChanges::setThresholdBytes(40'000'000'000));
    EXPECT_EQ(model->state().settings.thresholdBytes, 40'000'000'000);
    ASSERT_TRUE(model->state().settingsProblem);
    model->settings().update(SettingsChanges::togglePaused());
    EXPECT_EQ(problems.count(), 1);
    std::filesystem::remove_all(world.support + "/settings.json.corrupt");
    model->settings().update(SettingsChanges::togglePaused());
    EXPECT_FALSE(model->state().settingsProblem);
    EXPECT_EQ(SettingsStore{world.support + "/settings.json"}.load().thresholdBytes, 40'000'000'000);
}

}  // namespace
}  // namespace keldwick::test
