// The guide's window over a real model with scripted services: every step forward and
// back, the permission step's way around, the one settings write of finishing, and what
// the pages show on the way.

#include <QCheckBox>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

#include "onboarding/DoneStep.h"
#include "onboarding/DriveStep.h"
#include "onboarding/OnboardingWindow.h"
#include "onboarding/OnboardingWorld.h"
#include "onboarding/Point.h"
#include "onboarding/SpaceStep.h"
#include "onboarding/StepHeader.h"
#include "scanning/SettingsStore.h"
#include "support/KeyboardWalk.h"
#include "ui/DriveRow.h"
#include "ui/KeepFreePicker.h"

namespace keldwick::test {
namespace {

using Step = OnboardingModel::Step;
constexpr int64_t GB = 1'000'000'000;

struct Bar {
    bool back, later;
    std::string primary;
    bool enabled;
    bool operator==(const Bar&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Bar& bar) {
    return out << "back " << bar.back << " later " << bar.later << " " << bar.primary << " enabled " << bar.enabled;
}

Bar barOf(const OnboardingWindow& window) {
    return {window.backButton()->isVisibleTo(&window), window.laterButton()->isVisibleTo(&window),
            window.primaryButton()->text().toStdString(), window.primaryButton()->isEnabled()};
}

class OnboardingWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        guide.volumes = {volumeNamed("Archive", guide.world.driveRoot)};
        guide.world.homeAccess = false;
    }
    void grantAccess(bool granted) {
        guide.world.homeAccess = granted;
        guide.model->drives().refreshHomeAccess();
    }

    OnboardingWorld guide;
};

TEST_F(OnboardingWindowTest, EveryStepForwardAndBackThenDoneWritesOnce) {
    auto& onboarding = guide.make();
    FieldChanges writes(guide.model->store(), ModelField::settings);
    QPointer<OnboardingWindow> window = new OnboardingWindow(*guide.host);
    window->show();

    EXPECT_EQ(barOf(*window), (Bar{false, false, "Get Started", true}));
    QTest::mouseClick(window->primaryButton(), Qt::LeftButton);
    ASSERT_EQ(window->pageStep(), Step::homeAccess);

    // Without access: Continue waits, Do This Later goes on without it.
    EXPECT_EQ(barOf(*window), (Bar{true, true, "Continue", false}));
    grantAccess(true);
    EXPECT_EQ(barOf(*window), (Bar{true, false, "Continue", true}));
    grantAccess(false);
    QTest::mouseClick(window->laterButton(), Qt::LeftButton);
    ASSERT_EQ(window->pageStep(), Step::drive);

    // Drive: Continue only once a drive is measured; rows are off while it is.
    EXPECT_EQ(barOf(*window), (Bar{true, false, "Continue", false}));
    auto* drivePage = static_cast<DriveStep*>(window->page());
    ASSERT_TRUE(pumpUntil([&] { return drivePage->rows().size() == 1; }));
    QTest::mouseClick(drivePage->rows()[0]->chooseButton(), Qt::LeftButton);
    EXPECT_TRUE(onboarding.isMeasuring());
    EXPECT_FALSE(window->primaryButton()->isEnabled());
    EXPECT_FALSE(drivePage->rows()[0]->isEnabled());
    EXPECT_TRUE(drivePage->measuring()->isVisibleTo(drivePage));
    ASSERT_TRUE(pumpUntil([&] { return !onboarding.isMeasuring(); }));
    EXPECT_TRUE(drivePage->ready()->isVisibleTo(drivePage));
    EXPECT_EQ(drivePage->rows()[0]->isChosen(), true);
    EXPECT_EQ(barOf(*window), (Bar{true, false, "Continue", true}));

    // Back to the permission page and round again: the pick stays.
    QTest::mouseClick(window->backButton(), Qt::LeftButton);
    EXPECT_EQ(window->pageStep(), Step::homeAccess);
    QTest::mouseClick(window->laterButton(), Qt::LeftButton);
    EXPECT_EQ(barOf(*window), (Bar{true, false, "Continue", true}));
    // Continue marks the drive first; the guide moves on once it is.
    QTest::mouseClick(window->primaryButton(), Qt::LeftButton);
    EXPECT_TRUE(onboarding.isMarking());
    EXPECT_FALSE(window->primaryButton()->isEnabled());
    ASSERT_TRUE(pumpUntil([&] { return window->pageStep() == Step::space; }));
    ASSERT_TRUE(onboarding.drive());

    // Space: the folders load when the page shows; no folder on, no Continue.
    auto* space = static_cast<SpaceStep*>(window->page());
    ASSERT_EQ(space->folderSwitches().size(), 3u);  // Downloads, Desktop (missing), Documents
    EXPECT_FALSE(space->folderSwitches()[1]->isEnabled());
    space->folderSwitches()[0]->click();
    space->folderSwitches()[2]->click();
    EXPECT_EQ(space->summary()->text(), "Choose at least one folder for Keldwick to look in.");
    EXPECT_FALSE(window->primaryButton()->isEnabled());
    space->folderSwitches()[2]->click();
    EXPECT_EQ(space->summary()->text(), "Keldwick looks for old files in Documents.");
    space->picker()->radio(2)->click();
    EXPECT_EQ(onboarding.keepFreeBytes(), 50 * GB);
    QTest::mouseClick(window->primaryButton(), Qt::LeftButton);
    ASSERT_EQ(window->pageStep(), Step::done);

    // Done: Back returns to the space page with the choices kept and the list folded.
    EXPECT_EQ(barOf(*window), (Bar{true, false, "Done", true}));
    QTest::mouseClick(window->backButton(), Qt::LeftButton);
    space = static_cast<SpaceStep*>(window->page());
    EXPECT_EQ(window->pageStep(), Step::space);
    EXPECT_FALSE(space->folderList()->isVisibleTo(space));
    EXPECT_EQ(space->changeButton()->text(), "Change\u2026");
    EXPECT_TRUE(space->picker()->radio(2)->isChecked());
    EXPECT_FALSE(space->folderSwitches()[0]->isChecked());
    QTest::mouseClick(window->primaryButton(), Qt::LeftButton);
    EXPECT_EQ(writes.count(), 0) << "nothing reaches the settings before the guide finishes";

    // Return presses Done: one settings change with every choice, and the window closes.
    QTest::keyClick(window.data(), Qt::Key_Return);
    EXPECT_EQ(writes.count(), 1);
    const AppSettings& settings = guide.model->state().settings;
    EXPECT_TRUE(settings.onboardingComplete);
    EXPECT_EQ(settings.drive, guide.world.drive);
    EXPECT_EQ(settings.managedFolders, std::vector<std::string>{guide.world.home + "/Documents"});
    EXPECT_EQ(settings.thresholdBytes, 50 * GB);
    EXPECT_EQ(settings.targetBytes, 75 * GB);
    EXPECT_EQ(SettingsStore{guide.world.support + "/settings.json"}.load().thresholdBytes, 50 * GB);
    EXPECT_EQ(guide.world.loginItem->calls, std::vector<bool>{true});
    EXPECT_TRUE(pumpUntil([&] { return window.isNull(); }));
}

// Each page by keyboard alone: Tab reaches every control and comes back, and a screen
// reader is told plain words.
TEST_F(OnboardingWindowTest, EveryPageIsWorkedByKeyboardAndReadAsPlainText) {
    guide.make();
    OnboardingWindow window(*guide.host);
    ASSERT_TRUE(activateForKeys(window));
    const auto check = [&](const char* page) {
        SCOPED_TRACE(page);
        QCoreApplication::processEvents();
        window.primaryButton()->setFocus();
        EXPECT_EQ(keyboardOrderProblem(window), "");
        EXPECT_EQ(accessibleMarkup(window), std::vector<std::string>{});
    };
    check("welcome");
    window.primaryButton()->click();
    check("permission");
    window.laterButton()->click();
    auto* drivePage = static_cast<DriveStep*>(window.page());
    ASSERT_TRUE(pumpUntil([&] { return drivePage->rows().size() == 1; }));
    drivePage->rows()[0]->chooseButton()->click();
    ASSERT_TRUE(pumpUntil([&] { return window.primaryButton()->isEnabled(); }));
    check("drive");
    window.primaryButton()->click();
    ASSERT_TRUE(pumpUntil([&] { return window.pageStep() == Step::space; }));
    auto* space = static_cast<SpaceStep*>(window.page());
    if (!space->folderList()->isVisibleTo(space)) space->changeButton()->click();
    check("space");
    window.primaryButton()->click();
    check("done");
}

// Folders picked several at once make the space page taller than the window: it scrolls,
// and the last switch and Add Folder… can be reached whole.
TEST_F(OnboardingWindowTest, TheSpacePageScrollsToItsLastFolderAndAddFolder) {
    auto& onboarding = guide.make();
    std::vector<std::string> picked;
    for (const char* name : {"Projects", "Photos", "Videos", "Music"}) {
        makeDirs(guide.world.home + "/" + name);
        picked.push_back(guide.world.home + "/" + name);
    }
    guide.world.picker->answer = picked;
    onboarding.loadFolders();
    onboarding.addFolder();
    ASSERT_EQ(onboarding.folders().size(), 7u);
    onboarding.setStep(Step::space);
    OnboardingWindow window(*guide.host);
    window.show();
    auto* space = static_cast<SpaceStep*>(window.page());
    if (!space->folderList()->isVisibleTo(space)) space->changeButton()->click();
    QCoreApplication::processEvents();
    ASSERT_EQ(space->folderSwitches().size(), 7u);
    for (QWidget* control : {static_cast<QWidget*>(space->folderSwitches().back()),
                             static_cast<QWidget*>(space->addFolderButton())}) {
        window.scrollArea()->ensureWidgetVisible(control);
        QCoreApplication::processEvents();
        EXPECT_EQ(control->visibleRegion().boundingRect(), control->rect()) << control->metaObject()->className();
    }
    EXPECT_GT(window.scrollArea()->verticalScrollBar()->maximum(), 0);
}

TEST_F(OnboardingWindowTest, ClosingHalfWayKeepsTheStepAndTheChoices) {
    auto& onboarding = guide.make();
    onboarding.setStep(Step::space);
    onboarding.setKeepFreeBytes(10 * GB);
    {
        OnboardingWindow window(*guide.host);
        window.show();
        window.close();
    }
    OnboardingWindow again(*guide.host);
    again.show();
    EXPECT_EQ(again.pageStep(), Step::space);
    EXPECT_TRUE(static_cast<SpaceStep*>(again.page())->picker()->radio(0)->isChecked());
    EXPECT_EQ(guide.world.loginItem->calls.size(), 0u);
}

TEST_F(OnboardingWindowTest, ALoginItemThatFailsIsSetBackAndShownOnceTheGuideCloses) {
    auto& onboarding = guide.make();
    ASSERT_TRUE(guide.chooseFirstDrive());
    onboarding.loadFolders();
    onboarding.setStep(Step::done);
    guide.world.loginItem->fails = true;
    QPointer<OnboardingWindow> window = new OnboardingWindow(*guide.host);
    window->show();
    QTest::mouseClick(window->primaryButton(), Qt::LeftButton);
    EXPECT_TRUE(guide.model->state().settings.onboardingComplete);
    EXPECT_FALSE(onboarding.openAtLogin());
    ASSERT_EQ(guide.world.alerts->shown.size(), 1u);
    EXPECT_EQ(guide.world.alerts->shown[0].second, "autostart folder is read-only");
    EXPECT_TRUE(pumpUntil([&] { return window.isNull(); }));
}

TEST_F(OnboardingWindowTest, ReviewFilesFinishesClosesAndOpensThePreview) {
    auto& onboarding = guide.make();
    ASSERT_TRUE(guide.chooseFirstDrive());
    onboarding.loadFolders();
    onboarding.setStep(Step::done);
    QPointer<OnboardingWindow> window = new OnboardingWindow(*guide.host);
    window->show();
    auto* done = static_cast<DoneStep*>(window->page());
    EXPECT_FALSE(done->movableBox()->isVisibleTo(done)) << "no box before the estimate";
    EXPECT_EQ(done->keepPoint()->titleLabel()->text(), "Keep Archive plugged in when you can");
    done->reviewButton()->click();
    EXPECT_TRUE(guide.model->state().settings.onboardingComplete);
    ASSERT_TRUE(guide.model->preview());
    EXPECT_EQ(guide.model->preview()->kind(), PreviewKind::suggested);
    EXPECT_TRUE(pumpUntil([&] { return window.isNull(); }));
}

// The guide's pages redraw for the fields they read and no others; a mounted or unmounted
// volume asks for the drive list again instead.
TEST_F(OnboardingWindowTest, TheHostPassesOnOnlyTheChangesThePagesRead) {
    guide.make();
    QSignalSpy redraw(guide.host.get(), &OnboardingHost::stateChanged);
    QSignalSpy volumes(guide.host.get(), &OnboardingHost::volumesChanged);
    struct Case {
        ModelFields announced;
        int redraws, volumeChanges;
    };
    const std::vector<Case> cases = {
        {ModelField::records | ModelField::activity | ModelField::preview, 0, 0},
        {ModelField::canReadHome, 1, 0},
        {ModelField::computerFreeBytes, 1, 0},
        {ModelField::settings, 1, 0},
        {ModelField::journalProblem | ModelField::records, 1, 0},
        {ModelField::mounts, 0, 1},
    };
    for (const auto& c : cases) {
        redraw.clear();
        volumes.clear();
        guide.model->store().announce(c.announced);
        EXPECT_EQ(redraw.count(), c.redraws) << &c - cases.data();
        EXPECT_EQ(volumes.count(), c.volumeChanges) << &c - cases.data();
    }
}

}  // namespace
}  // namespace keldwick::test
