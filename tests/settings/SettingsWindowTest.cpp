#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QTabBar>
#include <gtest/gtest.h>

#include "settings/DriveTab.h"
#include "settings/FakeSettingsHost.h"
#include "settings/GeneralTab.h"
#include "settings/SettingsWindow.h"
#include "ui/DriveRow.h"
#include "support/KeyboardWalk.h"
#include "ui/KeepFreePicker.h"

namespace keldwick {
namespace {

constexpr int64_t GB = 1'000'000'000;

TEST(GeneralTabTest, OpeningWritesNothingAndEditsAreSaved) {
    test::FakeSettingsHost host;
    host.model.settings.thresholdBytes = 12'500'000'000;  // not a fixed choice
    host.model.settings.automaticRunsApproved = true;
    GeneralTab tab(host);
    EXPECT_EQ(host.writes, 0);
    ASSERT_EQ(tab.keepFreePicker()->choices().size(), 4u);
    EXPECT_TRUE(tab.keepFreePicker()->radio(3)->isChecked());
    EXPECT_FALSE(tab.askFirstBox()->isChecked());

    // A pause switched on from the menu shows at once, and nothing is written back.
    host.changeElsewhere([](ModelState& m) { m.settings.isPaused = true; });
    EXPECT_TRUE(tab.pauseBox()->isChecked());
    EXPECT_EQ(host.writes, 0);

    tab.keepFreePicker()->radio(1)->click();
    EXPECT_EQ(host.model.settings.thresholdBytes, 20 * GB);
    EXPECT_EQ(host.model.settings.targetBytes, 30 * GB);
    tab.keepFreePicker()->radio(0)->click();
    EXPECT_EQ(host.model.settings.targetBytes, 15 * GB);

    tab.askFirstBox()->click();
    EXPECT_FALSE(host.model.settings.automaticRunsApproved);
    EXPECT_EQ(tab.askCaptionLabel()->text(),
              QStringLiteral("Keldwick shows you the list of files and waits for your OK before moving anything."));
    tab.pauseBox()->click();
    EXPECT_FALSE(host.model.settings.isPaused);
    tab.notificationsBox()->click();
    EXPECT_FALSE(host.model.settings.notificationsEnabled);
    EXPECT_EQ(host.writes, 5);
}

TEST(GeneralTabTest, ARefusedLoginItemShowsWhatTheSystemDoes) {
    test::FakeSettingsHost host;
    host.login = true;
    GeneralTab tab(host);
    EXPECT_TRUE(tab.loginBox()->isChecked());
    host.loginError = "Read-only file system";
    tab.loginBox()->click();
    EXPECT_EQ(host.loginSets, std::vector<bool>{false});
    EXPECT_TRUE(tab.loginBox()->isChecked());
    EXPECT_TRUE(tab.loginProblemLabel()->isVisibleTo(&tab));
    EXPECT_EQ(tab.loginProblemLabel()->text(),
              QStringLiteral("Keldwick couldn't change whether it opens when you log in: Read-only file system"));

    host.loginError.reset();
    tab.loginBox()->click();
    EXPECT_FALSE(tab.loginBox()->isChecked());
    EXPECT_FALSE(host.login);
    EXPECT_FALSE(tab.loginProblemLabel()->isVisibleTo(&tab));
    EXPECT_EQ(host.writes, 0);
}

TEST(GeneralTabTest, UpdatesAsTheBuildAllows) {
    {
        test::FakeSettingsHost host;
        GeneralTab tab(host);
        EXPECT_FALSE(tab.automaticChecksBox());
        EXPECT_FALSE(tab.checkForUpdatesButton()->isEnabled());
    }
    test::FakeSettingsHost host;
    host.facts = {true, false, true, "1.4 (212)", false, true, ""};
    GeneralTab tab(host);
    ASSERT_TRUE(tab.automaticChecksBox());
    EXPECT_TRUE(tab.automaticChecksBox()->isChecked());
    EXPECT_FALSE(tab.checkForUpdatesButton()->isEnabled());
    tab.automaticChecksBox()->click();
    EXPECT_EQ(host.automaticChecks, std::vector<bool>{false});
    host.facts.canCheck = true;
    tab.render();
    tab.checkForUpdatesButton()->click();
    EXPECT_EQ(host.updateChecks, 1);
    // Installing by itself: on and off where it can replace itself.
    ASSERT_TRUE(tab.automaticDownloadsBox());
    EXPECT_TRUE(tab.automaticDownloadsBox()->isEnabled());
    EXPECT_FALSE(tab.downloadsNoteLabel()->isVisibleTo(&tab));
    tab.automaticDownloadsBox()->click();
    EXPECT_EQ(host.automaticDownloads, std::vector<bool>{true});
    EXPECT_TRUE(tab.automaticDownloadsBox()->isChecked());
    EXPECT_EQ(host.writes, 0);

    // Where it can't: off, disabled, and the reason under it.
    test::FakeSettingsHost other;
    other.facts = {true, true, true, "1.4 (212)", true, false,
                   "Keldwick can't replace itself here: it runs from its build folder."};
    GeneralTab elsewhere(other);
    EXPECT_FALSE(elsewhere.automaticDownloadsBox()->isChecked());
    EXPECT_FALSE(elsewhere.automaticDownloadsBox()->isEnabled());
    EXPECT_TRUE(elsewhere.downloadsNoteLabel()->isVisibleTo(&elsewhere));
    EXPECT_EQ(elsewhere.downloadsNoteLabel()->text(), "Keldwick can't replace itself here: it runs from its build folder. "
                                                      "Installing an update opens its download page.");
}

TEST(SettingsWindowTest, TabsFollowTheModelAndASaveProblemShows) {
    test::FakeSettingsHost host;
    host.model.settingsTab = SettingsTab::advanced;
    SettingsWindow window(host);
    EXPECT_EQ(window.tabs()->currentIndex(), 3);
    EXPECT_EQ(window.width(), SettingsWindow::fixedWidth);
    EXPECT_FALSE(window.problemLabel()->isVisibleTo(&window));

    window.tabs()->setCurrentIndex(1);
    EXPECT_EQ(host.tabs, std::vector<SettingsTab>{SettingsTab::folders});
    host.changeElsewhere([](ModelState& m) { m.settingsTab = SettingsTab::drive; });
    EXPECT_EQ(window.tabs()->currentIndex(), 2);
    EXPECT_EQ(host.tabs.size(), 1u);

    host.problem = "rename failed for settings.json: No space left on device";
    host.changeElsewhere([](ModelState&) {});
    EXPECT_TRUE(window.problemLabel()->isVisibleTo(&window));
    EXPECT_EQ(window.problemLabel()->text(), QStringLiteral("Keldwick couldn't save your settings: rename failed for "
                                                            "settings.json: No space left on device"));
    EXPECT_EQ(host.writes, 0);
}

TEST(SettingsWindowTest, EveryTabIsWorkedByKeyboardAndReadAsPlainText) {
    test::FakeSettingsHost host;
    host.model.settings.managedFolders = {"/home/u/Documents"};
    SettingsWindow window(host);
    ASSERT_TRUE(test::activateForKeys(window));
    for (int tab = 0; tab < window.tabs()->count(); ++tab) {
        SCOPED_TRACE(tab);
        window.tabs()->setCurrentIndex(tab);
        QCoreApplication::processEvents();
        window.tabs()->setFocus();
        EXPECT_EQ(test::keyboardOrderProblem(window), "");
        EXPECT_EQ(test::accessibleMarkup(window), std::vector<std::string>{});
    }
}

TEST(DriveTabTest, ACheckUnderWayShowsInANewWindowAndTheChooserMarksTheDrive) {
    test::FakeSettingsHost host;
    host.model.settings.drive = Drive{"D1", "Archive"};
    host.model.driveRoot = "/media/u/Archive";
    host.work.working = kCheckingSpeed;
    DriveTab tab(host);
    EXPECT_TRUE(tab.workingLabel()->isVisibleTo(&tab));
    EXPECT_FALSE(tab.differentDriveButton()->isEnabled());
    EXPECT_FALSE(tab.checkSpeedButton()->isEnabled());
    EXPECT_TRUE(tab.showFolderButton()->isVisibleTo(&tab));

    host.work = {std::nullopt, "Keldwick couldn't use Stick: Read-only file system"};
    host.changeElsewhere([](ModelState&) {});
    EXPECT_FALSE(tab.workingLabel()->isVisibleTo(&tab));
    EXPECT_TRUE(tab.errorLabel()->isVisibleTo(&tab));
    tab.checkSpeedButton()->click();
    EXPECT_EQ(host.speedChecks, 1);
    tab.showFolderButton()->click();
    EXPECT_EQ(host.foldersShown, 1);

    DriveOption same, other;
    same.volume.name = "Archive";
    same.volume.mountPath = "/media/u/Archive";
    same.existing = Drive{"D1", "Archive"};
    other.volume.name = "Stick";
    other.volume.mountPath = "/media/u/Stick";
    host.drives = {same, other};
    tab.differentDriveButton()->click();
    ASSERT_TRUE(tab.chooser());
    const auto rows = tab.chooser()->findChildren<DriveRow*>();
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_TRUE(rows[0]->isChosen());
    EXPECT_FALSE(rows[1]->isChosen());
    ASSERT_TRUE(rows[1]->chooseButton());
    // By keyboard: the rows' buttons in reading order before Cancel, each naming its drive.
    DriveChooser* chooser = tab.chooser();
    ASSERT_TRUE(test::activateForKeys(*chooser));
    EXPECT_EQ(test::keyboardOrderProblem(*chooser), "");
    EXPECT_EQ(rows[1]->chooseButton()->accessibleName(), QString::fromUtf8("Use \u201cStick\u201d"));
    rows[1]->chooseButton()->click();
    ASSERT_EQ(host.used.size(), 1u);
    EXPECT_EQ(host.used[0].volume.name, "Stick");
    EXPECT_EQ(host.writes, 0);
}

}  // namespace
}  // namespace keldwick
