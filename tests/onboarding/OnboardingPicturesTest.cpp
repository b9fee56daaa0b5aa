#include <QCoreApplication>
#include <QPushButton>
#include <QScrollArea>
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

    {
        PermissionWindow window(*guide.host);
        save(window, QSize(PermissionWindow::defaultWidth, PermissionWindow::defaultHeight), "permission");
    }
    guide.world.homeAccess = true;
    guide.model->drives().refreshHomeAccess();
    {
        PermissionWindow window(*guide.host);
        save(window, QSize(PermissionWindow::defaultWidth, PermissionWindow::defaultHeight), "permission-granted");
    }
}

}  // namespace
}  // namespace keldwick::test
