// The program's wiring over a real model with faked services: each hook of the tray
// panel and of the files window reaches its own model operation, and quitting during a
// move stops the move before the program ends.

#include "shell/ProgramWiring.h"

#include <QAbstractButton>
#include <QMessageBox>
#include <QPointer>
#include <QTest>
#include <QSignalBlocker>
#include <QSignalSpy>
#include <QThread>
#include <QUrl>
#include <QWidget>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <fstream>

#include "desktop/Updater.h"
#include "files/AppModelFilesHost.h"
#include "tray/TrayPanel.h"
#include "model/ModelFakes.h"
#include "shell/InstanceBus.h"

namespace keldwick {
namespace {

// A started model over a ready setup and a plugged-in folder drive.
class ProgramWiringTest : public ::testing::Test {
protected:
    test::ModelWorld world;
    std::string file = world.home + "/Downloads/report.pdf";
    std::atomic<bool> holdRuns{false};      // runs go on until cancelled
    std::atomic<bool> holdRecovery{false};  // start-up recovery goes on until released
    std::unique_ptr<AppModel> model;
    Updater updater{UpdaterConfiguration{}};
    int quits = 0;
    std::unique_ptr<ProgramWiring> wiring;

    void SetUp() override {
        test::makeDirs(world.home + "/Downloads");
        std::ofstream(file) << "pdf";
        world.writeReadySettings();
        world.locator->set(world.drive.id, world.driveRoot);
        world.engines->script = [this](test::FakeEngine& engine) {
            engine.onRun = [this](const OffloadPlan&, bool, const EngineOperations::Cancel& cancel,
                                  const EngineOperations::Progress&) {
                while (holdRuns && !(cancel && cancel->isCancelled())) QThread::msleep(2);
                return RunSummary{};
            };
            engine.onRecover = [this] {
                while (holdRecovery) QThread::msleep(2);
                return std::vector<RecoveryResult>{};
            };
        };
        model = world.make();
        wiring = std::make_unique<ProgramWiring>(*model, updater, [this] { ++quits; });
        follow();
    }

    void TearDown() override {
        holdRuns = false;
        holdRecovery = false;
        ASSERT_TRUE(settled());
    }

    ModelHooks panel() { return panelHooks(*model, updater, wiring->quitter()); }

    // No operation runs and no scan walks the home folder.
    bool settled() {
        return test::pumpUntil([&] {
            return model->state().activity == Activity::idle && !(model->preview() && model->preview()->isScanning());
        });
    }

    // `hasTray`: what the desktop answered when the icon was shown.
    void startModel(bool hasTray = true) {
        panel().start(hasTray);
        ASSERT_TRUE(test::pumpUntil([&] { return model->engine() && model->state().activity == Activity::idle; }));
    }

    // Every engine's calls, in the order the engines were built (the model rebuilds its
    // engine when what it knows of the drive changes).
    std::vector<std::string> engineCalls() {
        std::vector<std::shared_ptr<test::FakeEngine>> engines;
        {
            std::lock_guard guard(world.engines->lock);
            engines = world.engines->built;
        }
        std::vector<std::string> calls;
        for (const auto& engine : engines) {
            const auto some = engine->calls();
            calls.insert(calls.end(), some.begin(), some.end());
        }
        return calls;
    }

    // The windows the program was asked to open, by id: none is registered here, so each
    // request is reported as missing; the program empties the model's queue as it goes.
    std::vector<QString> asked;
    QString lastAsked() { return asked.empty() ? QString() : asked.back(); }
    void follow() {
        QObject::connect(&wiring->program().windows(), &WindowRegistry::missing,
                         [this](const QString& id) { asked.push_back(id); });
    }

    // Quitting by `ask` while a move runs: the move is told to stop, and the program ends
    // only once it has.
    void quitDuringALongMove(const std::function<void()>& ask) {
        startModel();
        holdRuns = true;
        model->moveToDrive({file});
        ASSERT_TRUE(test::pumpUntil([&] { return model->isBusy() && !engineCalls().empty(); }));

        ask();
        ASSERT_TRUE(test::pumpUntil([&] { return wiring->quitter().isWaiting(); }));
        EXPECT_EQ(quits, 0);  // not while the move runs
        ASSERT_TRUE(model->operations().currentJob());
        EXPECT_TRUE(model->operations().currentJob()->isCancelled());
        // The move stops after its current item; then the program ends.
        ASSERT_TRUE(test::pumpUntil([&] { return quits == 1; }));
        EXPECT_FALSE(model->isBusy());
    }
};

TEST_F(ProgramWiringTest, PanelCommandsReachTheirModelOperations) {
    ModelHooks hooks = panel();
    EXPECT_EQ(&hooks.state(), &model->state());
    EXPECT_EQ(hooks.now(), world.clock->now());  // the model's clock, not the wall clock
    EXPECT_FALSE(model->state().started);
    startModel(false);
    EXPECT_TRUE(model->state().started);
    EXPECT_FALSE(model->state().hasTray);  // the texts that point at a tray follow it
    EXPECT_TRUE(model->holdsInstanceLock());

    struct Case {
        const char* name;
        std::function<void()> act;
        std::function<bool()> reached;
    };
    const Case cases[] = {
        {"a window", [&] { hooks.requestWindow(AppWindow::systemData); },
         [&] { return lastAsked() == "systemData" && model->state().windowRequests.empty(); }},
        {"settings", [&] { hooks.showSettings(); }, [&] { return lastAsked() == "settings"; }},
        {"the queue emptied",
         [&] {
             QSignalBlocker quiet(&model->store());  // the program doesn't hear of this one
             model->requestWindow(AppWindow::permission);
             hooks.clearWindowRequests();
         },
         [&] { return model->state().windowRequests.empty() && lastAsked() == "settings"; }},
        {"pause", [&] { hooks.setMoveAutomatically(false); }, [&] { return model->state().settings.isPaused; }},
        {"resume", [&] { hooks.setMoveAutomatically(true); }, [&] { return !model->state().settings.isPaused; }},
        {"free up space",
         [&] { hooks.freeUpSpace(); },
         [&] {
             return model->preview() && model->preview()->kind() == PreviewKind::manual &&
                    lastAsked() == "preview";
         }},
        {"choose files", [&] { hooks.chooseFilesToMove(); }, [&] { return world.picker->requests.size() == 1; }},
        {"refresh",
         [&] {
             world.freeBytes = 12'345;
             hooks.refresh();
         },
         [&] { return model->state().computerFreeBytes == 12'345; }},
        {"no update without a feed", [&] { hooks.checkForUpdates(); },
         [&] { return hooks.availableUpdate() == std::nullopt; }},
        {"quit when idle", [&] { hooks.quit(); }, [&] { return quits == 1; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        c.act();
        EXPECT_TRUE(test::pumpUntil(c.reached));  // a refresh applies once it has read
    }
}

TEST_F(ProgramWiringTest, FilesWindowOperationsReachTheirModelOperations) {
    startModel();
    auto& files = wiring->host<AppModelFilesHost>(*model);
    QSignalSpy changed(&files, &FilesHost::stateChanged);
    OffloadRecord seven;
    seven.id = 7;
    seven.originalPath = world.home + "/Downloads/old.mov";

    struct Case {
        const char* name;
        std::function<void()> act;
        std::vector<std::string> engine;  // the engine's calls this made
    };
    const Case cases[] = {
        {"bring back", [&] { files.restoreRecords({3, 4}); }, {"restore 3", "restore 4"}},
        {"bring back a copy", [&] { files.restoreCopy(5); }, {"restoreAsCopy 5"}},
        {"keep on this computer", [&] { files.keepOnComputer({seven}); }, {"restore 7"}},
        {"bring everything back", [&] { files.restoreAll(); }, {"restoreAll"}},
        {"delete the drive copy", [&] { files.deleteDriveCopy(seven); }, {"discard 7"}},
        {"move dropped items", [&] { files.moveToDrive({file}); }, {"run " + file}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const size_t before = engineCalls().size();
        c.act();
        ASSERT_TRUE(settled());
        const std::vector<std::string> calls = engineCalls();
        EXPECT_EQ(std::vector<std::string>(calls.begin() + static_cast<std::ptrdiff_t>(before), calls.end()), c.engine);
    }
    EXPECT_EQ(model->state().pins, std::vector<std::string>{seven.originalPath});

    EXPECT_EQ(&files.state(), &model->state());
    EXPECT_EQ(files.now(), world.clock->now());
    EXPECT_GT(changed.count(), 0);
    EXPECT_EQ(files.driveStatus(seven), model->drives().driveStatus(seven));
    files.setFilesTab(FilesTab::everything);
    EXPECT_EQ(model->state().filesTab, FilesTab::everything);
    model->operations().reportFilesProblems({"it broke"}, "Couldn't");
    ASSERT_TRUE(model->state().filesProblem);
    files.clearFilesProblem();
    EXPECT_FALSE(model->state().filesProblem);
    files.openPreview();
    ASSERT_TRUE(model->preview());
    EXPECT_EQ(lastAsked(), "preview");
    files.chooseFilesToMove();
    EXPECT_EQ(world.picker->requests.size(), 1u);

    // Stop asks the running move to stop after its current item.
    ASSERT_TRUE(settled());
    holdRuns = true;
    files.moveToDrive({file});
    ASSERT_TRUE(test::pumpUntil([&] { return model->isBusy() && model->operations().currentJob(); }));
    files.cancel();
    EXPECT_TRUE(model->operations().currentJob()->isCancelled());
}

TEST_F(ProgramWiringTest, AFileManagersHandOverMovesAndASecondLaunchShowsThePanel) {
    startModel();
    InstanceBus instance(QDBusConnection(QStringLiteral("nobus")));
    wiring->listen(instance);
    instance.MoveToDrive({QUrl::fromLocalFile(QString::fromStdString(file)).toString(),
                          QStringLiteral("smb://server/share/x")});
    ASSERT_TRUE(test::pumpUntil([&] { return !engineCalls().empty(); }));
    ASSERT_TRUE(settled());
    EXPECT_EQ(engineCalls(), std::vector<std::string>{"run " + file});

    // Items handed over while a move runs move after it, not refused as busy.
    const std::string other = world.home + "/Downloads/notes.txt";
    std::ofstream(other) << "notes";
    holdRuns = true;
    model->moveToDrive({file});
    ASSERT_TRUE(test::pumpUntil([&] { return model->isBusy(); }));
    instance.MoveToDrive({QUrl::fromLocalFile(QString::fromStdString(other)).toString()});
    QTest::qWait(50);
    EXPECT_EQ(engineCalls(), (std::vector<std::string>{"run " + file, "run " + file}));
    holdRuns = false;
    ASSERT_TRUE(test::pumpUntil([&] { return engineCalls().size() == 3; }));
    ASSERT_TRUE(settled());
    EXPECT_EQ(engineCalls().back(), "run " + other);

    wiring->start(false);  // no tray: the panel is a window
    ASSERT_TRUE(wiring->program().openPanel());
    wiring->program().openPanel()->hide();
    instance.ShowPanel();
    EXPECT_TRUE(test::pumpUntil([&] { return wiring->program().openPanel()->isVisible(); }));
    // So does a click on a notice whose target is the panel.
    wiring->program().openPanel()->hide();
    model->openTarget(NoticeTarget::menu);
    EXPECT_TRUE(test::pumpUntil([&] { return wiring->program().openPanel()->isVisible(); }));
}


TEST_F(ProgramWiringTest, QuittingDuringALongMoveStopsItFirst) {
    quitDuringALongMove([&] { panel().quit(); });
}

TEST_F(ProgramWiringTest, TerminationQuitsTheSameWay) {
    wiring->quitOnTermination();
    quitDuringALongMove([] { ASSERT_EQ(::raise(SIGTERM), 0); });
}

// Start-up recovery can't stop midway and runs again at the next start: quitting while it
// runs ends the program at once rather than after the wait meant for a move.
TEST_F(ProgramWiringTest, QuittingDuringStartUpRecoveryIsPrompt) {
    holdRecovery = true;
    wiring->start(false);
    ASSERT_TRUE(test::pumpUntil([&] { return model->state().activity == Activity::recovering; }));
    panel().quit();
    EXPECT_EQ(quits, 1);
    EXPECT_FALSE(wiring->quitter().isWaiting());
    EXPECT_TRUE(model->isBusy());  // the program then leaves without waiting for it
}

TEST_F(ProgramWiringTest, ALaunchsItemsMoveOnceStartUpRecoveryIsDone) {
    holdRecovery = true;
    wiring->start(false);
    ASSERT_TRUE(test::pumpUntil([&] { return model->state().activity == Activity::recovering; }));
    wiring->moveWhenReady({file});
    QTest::qWait(50);
    EXPECT_EQ(engineCalls(), std::vector<std::string>{});  // not refused as busy, just later
    EXPECT_FALSE(model->state().filesProblem);
    holdRecovery = false;
    ASSERT_TRUE(test::pumpUntil([&] { return !engineCalls().empty(); }));
    ASSERT_TRUE(settled());
    EXPECT_EQ(engineCalls(), std::vector<std::string>{"run " + file});
    // Later changes of activity move nothing again.
    model->refresh();
    wiring->host<AppModelFilesHost>(*model).restoreAll();
    ASSERT_TRUE(settled());
    const std::vector<std::string> calls = engineCalls();
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "run " + file), 1);
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "restoreAll"), 1);
}

TEST_F(ProgramWiringTest, AnInstalledUpdateRelaunchesOnlyOnceTheMovingFilesAreDone) {
    startModel();
    holdRuns = true;
    model->moveToDrive({file});
    ASSERT_TRUE(test::pumpUntil([&] { return model->isBusy() && !engineCalls().empty(); }));

    AppcastItem update;
    update.version = "120";
    update.displayVersion = "1.2";
    emit updater.controller()->updateInstalled(update, "/opt/k/bin/keldwick");
    QMessageBox* box = wiring->updatePrompts().shown();
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->text(), "Keldwick 1.2 is installed.");
    QAbstractButton* relaunch = nullptr;
    for (QAbstractButton* button : box->buttons()) {
        if (button->text() == "Relaunch") relaunch = button;
    }
    ASSERT_NE(relaunch, nullptr);
    relaunch->click();
    QTest::qWait(100);
    EXPECT_EQ(quits, 0);  // never under the user while files move
    EXPECT_FALSE(wiring->relaunchProgram());
    ASSERT_TRUE(model->operations().currentJob());
    EXPECT_FALSE(model->operations().currentJob()->isCancelled());

    holdRuns = false;
    ASSERT_TRUE(test::pumpUntil([&] { return quits == 1; }));
    EXPECT_EQ(wiring->relaunchProgram(), "/opt/k/bin/keldwick");
}

TEST_F(ProgramWiringTest, OnlyTheUsersOwnCheckSaysHowItEnded) {
    // A scheduled check that fails says nothing: the network may just be away.
    emit updater.controller()->checkFailed("Keldwick couldn't check for updates: Host not found");
    EXPECT_EQ(wiring->updatePrompts().shown(), nullptr);
    // Up to date is said only on the user's check (the controller tells no one else).
    emit updater.controller()->noUpdateFound();
    ASSERT_NE(wiring->updatePrompts().shown(), nullptr);
    EXPECT_EQ(wiring->updatePrompts().shown()->text(), "Keldwick is up to date.");
}

TEST(UpdatePromptsTest, AFoundUpdateIsInstalledWhereItCanBeElseItsPageOpens) {
    EXPECT_EQ(foundUpdateTexts("1.2", true),
              (UpdatePromptTexts{"Software Update", "Keldwick 1.2 is available.",
                                 "Install it now? Keldwick keeps running until you relaunch it.", "Install", "Later"}));
    EXPECT_EQ(foundUpdateTexts("1.2", false),
              (UpdatePromptTexts{"Software Update", "Keldwick 1.2 is available.", "Open its download page to get it?",
                                 "Open Download Page", "Later"}));
}

TEST_F(ProgramWiringTest, WindowsCloseBeforeTheHostsTheyUse) {
    auto& host = wiring->host<AppModelFilesHost>(*model);
    QPointer<QWidget> window;
    wiring->program().windows().add(AppWindow::offloaded, {QStringLiteral("Files"), QSize(300, 200), [&] {
                                                               auto* made = new QWidget;
                                                               // The window reads its host until it goes.
                                                               QObject::connect(made, &QObject::destroyed, [&host] {
                                                                   (void)host.state();
                                                               });
                                                               return made;
                                                           }});
    ASSERT_TRUE(wiring->program().windows().open(AppWindow::offloaded));
    window = wiring->program().windows().window(AppWindow::offloaded);
    ASSERT_TRUE(window);
    wiring.reset();
    EXPECT_TRUE(window.isNull());
}

}  // namespace
}  // namespace keldwick
