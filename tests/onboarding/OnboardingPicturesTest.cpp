#include <QCoreApplication>
#include <QPushButton>
#include <QScrollArea>
#include <QScreen>
#include <QScrollBar>
#include <gtest/gtest.h>

#include "desktop/Pictures.h"
#include "onboarding/DriveStep.h"
#include "onboarding/OnboardingWindow.h"
#include "onboarding/OnboardingWorld.h"
#include "onboarding/PermissionInstructions.h"
#include "onboarding/PermissionStep.h"
#include "onboarding/PermissionWindow.h"
#include "onboarding/SpaceStep.h"
#include "ui/Symbols.h"

namespace keldwick::test {
namespace {

using Step = OnboardingModel::Step;

void save(QWidget& window, QSize size, const char* name) {
    test::savePicture(window, size, QStringLiteral("onboarding-%1").arg(QLatin1String(name)));
}

// The window at the size it takes for what it says, after its button was pressed when asked.
void savePermission(OnboardingHost& host, const char* name, bool press = false) {
    PermissionWindow window(host);
    window.show();
    if (press) window.instructions()->settingsButton()->click();
    QCoreApplication::processEvents();
    // As tall as its words (at least its usual height), as far as the screen goes; the
    // words scroll only where it doesn't.
    const int frame = window.frameGeometry().height() - window.height();
    const int wanted = window.sizeHint().height(), room = window.screen()->availableGeometry().height() - frame;
    EXPECT_GE(wanted, PermissionWindow::defaultHeight);
    EXPECT_EQ(window.size(), QSize(PermissionWindow::defaultWidth, std::min(wanted, room))) << name;
    if (wanted <= room) {
        EXPECT_EQ(window.scrollArea()->verticalScrollBar()->maximum(), 0) << name;
    }
    save(window, window.size(), name);
}

void saveGuide(OnboardingWorld& guide, Step step, const char* name,
               const std::function<void(OnboardingWindow&)>& arrange = {}) {
    guide.model->onboarding().setStep(step);
    OnboardingWindow window(*guide.host);
    window.show();
    if (arrange) arrange(window);
    save(window, QSize(OnboardingWindow::defaultWidth, OnboardingWindow::defaultHeight), name);
}

TEST(OnboardingPicturesTest, EveryPageAndThePermissionWindow) {
    Symbols::useDesktopIconTheme();
    OnboardingWorld guide;
    guide.world.homeAccess = false;
    guide.world.freeBytes = 14'200'000'000;
    VolumeInfo stick = volumeNamed("USB STICK", guide.world.dir / "stick", "vfat");
    stick.isReadOnly = true;
    stick.totalBytes = 32'000'000'000;
    stick.availableBytes = 3'100'000'000;
    guide.volumes = {volumeNamed(test::longDriveName, guide.world.driveRoot), volumeNamed("Backup 2TB", guide.world.dir / "b"),
                     stick};
    const std::string usedBefore = guide.world.dir / "b";
    guide.system.marker = [usedBefore](const std::string& root) -> std::optional<Drive> {
        if (root == usedBefore) return Drive{"0C7E1D2A-0000-4000-8000-000000000002", "Backup 2TB"};
        return std::nullopt;
    };
    guide.system.records = [usedBefore](const std::string& root) { return root == usedBefore; };
    guide.make();
    guide.model->refresh();

    saveGuide(guide, Step::welcome, "welcome");
    saveGuide(guide, Step::homeAccess, "full-disk-access", [](OnboardingWindow& window) {
        static_cast<PermissionStep*>(window.page())->instructions()->settingsButton()->click();
    });
    ASSERT_TRUE(guide.chooseFirstDrive());
    saveGuide(guide, Step::drive, "drive", [](OnboardingWindow& window) {
        auto* page = static_cast<DriveStep*>(window.page());
        EXPECT_TRUE(pumpUntil([&] { return page->rows().size() == 3; }));
    });
    saveGuide(guide, Step::space, "space", [](OnboardingWindow& window) {
        static_cast<SpaceStep*>(window.page())->changeButton()->click();
    });
    // Seven folders: the page scrolls, shown at its end.
    std::vector<std::string> more;
    for (const char* name : {"Projects", "Photos", "Videos", "Music"}) {
        makeDirs(guide.world.home + "/" + name);
        more.push_back(guide.world.home + "/" + name);
    }
    guide.world.picker->answer = more;
    guide.model->onboarding().addFolder();
    saveGuide(guide, Step::space, "space-seven-folders", [](OnboardingWindow& window) {
        auto* page = static_cast<SpaceStep*>(window.page());
        page->changeButton()->click();
        QCoreApplication::processEvents();
        window.scrollArea()->ensureWidgetVisible(page->addFolderButton());
    });
    // The could-move-now box needs files the scanner finds old, which a test can't make
    // (a file's change time, its date added here, is always now): the page without it.
    saveGuide(guide, Step::done, "done");

    savePermission(*guide.host, "permission");
    guide.world.homeAccess = true;
    guide.model->drives().refreshHomeAccess();
    savePermission(*guide.host, "permission-granted");
}

// The permission window in each state it can be in, at the size it takes: its words
// grow with the sandbox's step, a refused folder's note and the answer to its button.
TEST(OnboardingPicturesTest, ThePermissionWindowInEachState) {
    Symbols::useDesktopIconTheme();
    struct Case {
        const char* name;
        HomeAccess::Sandbox sandbox;
        std::vector<std::string> refusedByMode;  // under the home
        std::optional<std::string> blockedBy;    // under the home
        bool press = false;                      // "Show the Folder"
        bool shows = true;                       // whether a file manager answers
    };
    const HomeAccess::Sandbox flatpak{HomeAccess::Sandbox::Kind::flatpak, "com.orvandel.Keldwick"};
    const HomeAccess::Sandbox snap{HomeAccess::Sandbox::Kind::snap, "keldwick"};
    const std::vector<Case> cases = {
        {"permission-flatpak-refused-folder", flatpak, {"Music"}, std::nullopt},
        {"permission-flatpak-shown", flatpak, {}, std::nullopt, true},
        {"permission-snap-shown", snap, {"Music", "Videos"}, "Documents", true},
        {"permission-show-failed", {}, {"Music"}, "Documents", true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        OnboardingWorld guide;
        guide.sandbox = c.sandbox;
        guide.world.homeAccess = false;
        for (const auto& folder : c.refusedByMode) guide.world.refusedByMode.push_back(guide.world.home + "/" + folder);
        if (c.blockedBy) guide.world.blockedBy = guide.world.home + "/" + *c.blockedBy;
        guide.make();
        const bool shows = c.shows;
        guide.model->services().openURL = [shows](const std::string&) { return shows; };
        guide.model->drives().refreshHomeAccess();
        savePermission(*guide.host, c.name, c.press);
    }
}

}  // namespace
}  // namespace keldwick::test
