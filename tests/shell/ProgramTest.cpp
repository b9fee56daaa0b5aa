#include "shell/Program.h"

#include <QCheckBox>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QTest>
#include <gtest/gtest.h>

#include <algorithm>

#include "desktop/PrivateBus.h"
#include "tray/TrayPanel.h"
#include "model/ModelStateFixtures.h"
#include "shell/InstanceBus.h"
#include "shell/Session.h"

namespace keldwick {
namespace {

class ProgramTest : public ::testing::Test {
protected:
    ModelHooks hooks() {
        ModelHooks h;
        h.state = [this]() -> const ModelState& { return state_; };
        h.now = [] { return Date{800'000'000}; };
        h.start = [this](bool) { calls_.push_back("start"); };
        h.refresh = [this] { calls_.push_back("refresh"); };
        h.clearWindowRequests = [this] { state_.windowRequests.clear(); };
        h.requestWindow = [this](AppWindow w) { calls_.push_back("window " + std::string(toString(w))); };
        h.showSettings = [this] { calls_.push_back("settings"); };
        h.setMoveAutomatically = [this](bool on) { calls_.push_back(on ? "automatic on" : "automatic off"); };
        h.cancel = [this] { calls_.push_back("cancel"); };
        h.freeUpSpace = [this] { calls_.push_back("free up space"); };
        h.chooseFilesToMove = [this] { calls_.push_back("choose files"); };
        h.quit = [this] { calls_.push_back("quit"); };
        return h;
    }

    ModelState state_ = test::readyState();
    std::vector<std::string> calls_;
};

TEST_F(ProgramTest, StartsTheModelOnceAfterTheIconAndRefreshesOnEachOpening) {
    Program program(hooks());
    program.start(false);  // no tray: the panel is the window
    program.start(false);
    EXPECT_EQ(calls_, (std::vector<std::string>{"start", "refresh"}));
    ASSERT_NE(program.openPanel(), nullptr);
    EXPECT_TRUE(program.openPanel()->isVisible());
    EXPECT_EQ(program.openPanel()->shown().header.subtitle, "Keeps 20 GB free on this computer");

    // The panel follows the model while open.
    state_.settings.isPaused = true;
    program.modelChanged();
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return program.openPanel()->shown().header.subtitle == "Paused: nothing moves on its own"; }, 2000));

    program.showPanel();  // a second launch
    EXPECT_EQ(calls_.back(), "refresh");
}

TEST_F(ProgramTest, CommandsReachTheModel) {
    Program program(hooks());
    program.start(false);
    calls_.clear();
    struct Case {
        PanelCommand command;
        const char* call;
    };
    const Case cases[] = {
        {PanelCommand::stop, "cancel"},
        {PanelCommand::setUp, "window onboarding"},
        {PanelCommand::givePermission, "window permission"},
        {PanelCommand::freeUpSpace, "free up space"},
        {PanelCommand::moveFiles, "choose files"},
        {PanelCommand::systemData, "window systemData"},
        {PanelCommand::showFiles, "window offloaded"},
        {PanelCommand::settings, "settings"},
        {PanelCommand::quit, "quit"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.call);
        program.run(c.command);
        ASSERT_TRUE(QTest::qWaitFor([&] { return !calls_.empty(); }, 2000));
        EXPECT_EQ(calls_, std::vector<std::string>{c.call});
        calls_.clear();
    }
    // Without an updater the update command does nothing, and says nothing is missing.
    program.run(PanelCommand::update);
    QTest::qWait(20);
    EXPECT_TRUE(calls_.empty());

    program.openPanel()->automaticSwitch()->click();
    EXPECT_EQ(calls_, std::vector<std::string>{"automatic off"});
}

TEST_F(ProgramTest, StopCanBePressedAndKeepsTheFocusWhileACopyReportsProgress) {
    // No byte count yet: the bar starts indeterminate and takes the count in place.
    state_.activity = Activity::moving;
    state_.progress = EngineProgress{"big.iso", 0, 1, 0, 0};
    Program program(hooks());
    program.start(false);
    TrayPanel* panel = program.openPanel();
    ASSERT_NE(panel, nullptr);
    QPointer<QPushButton> stop;
    for (QPushButton* button : panel->findChildren<QPushButton*>())
        if (button->text() == "Stop") stop = button;
    ASSERT_TRUE(stop);
    auto* bar = panel->findChild<QProgressBar*>();
    ASSERT_NE(bar, nullptr);
    // A 4 MiB chunk reported every 20 ms, each announced by the model.
    QTimer reports;
    QObject::connect(&reports, &QTimer::timeout, [&] {
        state_.progress->itemBytesTotal = 4'000'000'000;
        state_.progress->itemBytesDone += 4 << 20;
        program.modelChanged();
    });
    reports.start(20);
    const auto cancels = [&] { return std::count(calls_.begin(), calls_.end(), "cancel"); };

    // The pointer: pressed, and released 100 ms later.
    QTest::mousePress(stop, Qt::LeftButton);
    QTest::qWait(100);
    ASSERT_TRUE(stop);
    QTest::mouseRelease(stop, Qt::LeftButton);
    EXPECT_EQ(cancels(), 1);

    // The keyboard: Space on Stop, the focus kept across reports.
    stop->setFocus();
    QTest::qWait(100);
    ASSERT_TRUE(stop);
    ASSERT_EQ(panel->focusWidget(), stop.data());
    QTest::keyClick(panel->focusWidget(), Qt::Key_Space);
    EXPECT_EQ(cancels(), 2);
    EXPECT_GT(bar->value(), 0);  // the same bar followed the copy
    EXPECT_EQ(stop->accessibleName(), "Stop");
}

TEST_F(ProgramTest, QueuedWindowsOpenThroughTheRegistry) {
    Program program(hooks());
    program.start(false);
    int made = 0;
    program.windows().add(AppWindow::systemData, {QStringLiteral("System Data"), QSize(600, 520), [&] {
                                                      ++made;
                                                      return new QWidget;
                                                  }});
    state_.windowRequests = {WindowRequest::make(AppWindow::systemData), WindowRequest::make(AppWindow::systemData)};
    program.windowRequestsChanged();
    EXPECT_EQ(made, 1);
    EXPECT_TRUE(state_.windowRequests.empty());
    QWidget* window = program.windows().window(AppWindow::systemData);
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(window->isVisible());
    delete window;
}

TEST(SessionTest, AGraphicalSessionIsNeeded) {
    struct Case {
        const char* display;
        const char* wayland;
        const char* platform;
        bool fine;
    };
    const Case cases[] = {
        {":0", "", "", true},
        {"", "wayland-0", "", true},
        {"", "", "offscreen", true},
        {"", "", "", false},
    };
    for (const Case& c : cases) {
        const auto problem = sessionProblem([&](const char* name) -> std::string {
            if (std::string(name) == "DISPLAY") return c.display;
            if (std::string(name) == "WAYLAND_DISPLAY") return c.wayland;
            if (std::string(name) == "QT_QPA_PLATFORM") return c.platform;
            return "";
        });
        EXPECT_EQ(!problem.has_value(), c.fine);
        if (problem) {
            EXPECT_EQ(*problem, "keldwick needs a graphical session: no DISPLAY or WAYLAND_DISPLAY");
        }
    }
}

TEST(InstanceBusTest, ASecondLaunchHandsOverToTheFirst) {
    test::PrivateBus bus;
    if (bus.skipReason()) GTEST_SKIP() << *bus.skipReason();
    InstanceBus first(bus.connect());
    int shown = 0;
    QObject::connect(&first, &InstanceBus::showPanelRequested, [&] { ++shown; });
    ASSERT_EQ(first.claim(), InstanceBus::Claim::owner);

    InstanceBus second(bus.connect());
    ASSERT_EQ(second.claim(), InstanceBus::Claim::taken);
    std::optional<bool> answered;
    second.handOver({}, [&](bool ok) { answered = ok; });
    ASSERT_TRUE(QTest::qWaitFor([&] { return answered.has_value(); }, 5000));
    EXPECT_TRUE(*answered);
    EXPECT_EQ(shown, 1);

    EXPECT_EQ(InstanceBus(QDBusConnection(QStringLiteral("not-connected"))).claim(), InstanceBus::Claim::noBus);
}

TEST(InstanceBusTest, FileManagersHandOverLocalItemsOnly) {
    struct Case {
        const char* name;
        QStringList uris;
        std::vector<std::string> paths;
    };
    const Case cases[] = {
        {"three files in order",
         {"file:///home/u/b.iso", "file:///home/u/a%20b.mov", "file://localhost/home/u/c"},
         {"/home/u/b.iso", "/home/u/a b.mov", "/home/u/c"}},
        {"a newline in a name stays one path", {"file:///home/u/two%0Alines"}, {"/home/u/two\nlines"}},
        {"other schemes are left out",
         {"sftp://host/x", "trash:///y", "file:///home/u/z", "/home/u/plain"},
         {"/home/u/z"}},
        {"another host's file", {"file://server/share/f"}, {}},
        {"nothing", {}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(InstanceBus::localPaths(c.uris), c.paths);
    }

    test::PrivateBus bus;
    if (bus.skipReason()) GTEST_SKIP() << *bus.skipReason();
    InstanceBus owner(bus.connect());
    std::vector<std::vector<std::string>> moves;
    QObject::connect(&owner, &InstanceBus::moveRequested, [&](const std::vector<std::string>& p) { moves.push_back(p); });
    ASSERT_EQ(owner.claim(), InstanceBus::Claim::owner);
    QDBusConnection caller = bus.connect();
    for (const QStringList& uris : {QStringList{"trash:///a"}, QStringList{"file:///home/u/a", "file:///home/u/b"}}) {
        QDBusMessage call = QDBusMessage::createMethodCall(InstanceBus::serviceName, InstanceBus::objectPath,
                                                           InstanceBus::serviceName, QStringLiteral("MoveToDrive"));
        call << uris;
        caller.asyncCall(call);
    }
    ASSERT_TRUE(QTest::qWaitFor([&] { return !moves.empty(); }, 5000));
    QTest::qWait(50);
    EXPECT_EQ(moves, (std::vector<std::vector<std::string>>{{"/home/u/a", "/home/u/b"}}));
}

}  // namespace
}  // namespace keldwick
