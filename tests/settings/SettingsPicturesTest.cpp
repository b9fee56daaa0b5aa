#include <QTabBar>
#include <gtest/gtest.h>

#include "desktop/Pictures.h"
#include "settings/DriveTab.h"
#include "settings/FakeSettingsHost.h"
#include "settings/SettingsWindow.h"
#include "support/TempDir.h"
#include "ui/Symbols.h"

namespace keldwick {
namespace {

constexpr int64_t GB = 1'000'000'000;

void save(QWidget& window, const char* name) {
    // The settings window sizes itself to its tab and the screen; the chooser to its rows
    // and the screen.
    if (qobject_cast<DriveChooser*>(&window)) window.show();
    else if (!qobject_cast<SettingsWindow*>(&window)) window.adjustSize();
    test::savePicture(window, window.size(),
                      QStringLiteral("settings-%1").arg(QLatin1String(name)));
}

OffloadRecord moved(const std::string& path, int64_t size, bool folder = false) {
    OffloadRecord record;
    record.originalPath = path;
    record.phase = Phase::offloaded;
    record.size = size;
    record.isDirectory = folder;
    return record;
}

// A computer set up a while ago: three folders (one gone), two pins, a fast drive plugged in.
void setUp(test::FakeSettingsHost& host, const std::string& home) {
    ModelState& m = host.model;
    m.home = home;
    m.settings.onboardingComplete = true;
    m.settings.drive = Drive{"D1", test::longDriveName};
    m.settings.managedFolders = {home + "/Downloads", home + "/Documents", home + "/Videos/Old"};
    m.pins = {home + "/Documents/Taxes", home + "/Downloads/passport scan.pdf"};
    DriveProfile profile;
    profile.hardware = DriveHardware(DriveHardware::Medium::solidState, "USB");
    profile.benchmark = BenchmarkResult{412, 468, 0.21, 0.38, 512 << 20, Date{1'795'000'000}};
    m.settings.driveProfile = profile;
    m.driveRoot = "/media/u/Archive";
    VolumeInfo volume;
    volume.name = test::longDriveName;
    volume.availableBytes = 1'214 * GB;
    volume.totalBytes = 2'000 * GB;
    m.driveVolume = volume;
    m.records = {moved(home + "/Downloads/ubuntu.iso", 6 * GB), moved(home + "/Documents/Photos 2019", 8 * GB, true),
                 moved(home + "/Downloads/win10.vdi", 32 * GB)};
}

TEST(SettingsPicturesTest, EachTab) {
    Symbols::useDesktopIconTheme();
    test::TempDir dir;
    const std::string home = dir / "home";
    test::makeDirs(home + "/Downloads");
    test::makeDirs(home + "/Documents/Taxes");
    test::writeFile(home + "/Downloads/passport scan.pdf", "x");

    const struct {
        SettingsTab tab;
        const char* name;
    } tabs[] = {{SettingsTab::general, "general"},
                {SettingsTab::folders, "folders"},
                {SettingsTab::drive, "drive"},
                {SettingsTab::advanced, "advanced"}};
    for (const auto& t : tabs) {
        test::FakeSettingsHost host;
        setUp(host, home);
        host.model.settingsTab = t.tab;
        SettingsWindow window(host);
        save(window, t.name);
    }
    {
        // A speed check under way, while a save failed.
        test::FakeSettingsHost host;
        setUp(host, home);
        host.model.settingsTab = SettingsTab::drive;
        host.work.working = kCheckingSpeed;
        host.problem = "rename failed for settings.json: No space left on device";
        SettingsWindow window(host);
        save(window, "drive-checking");
    }
    {
        // No drive chosen, no folders, nothing pinned, updates set up.
        test::FakeSettingsHost host;
        host.model.home = home;
        host.facts = {true, true, true, "1.4 (212)", false, false,
                      "Keldwick can't replace itself here: it runs from its build folder."};
        host.model.settings.managedFolders.clear();
        for (SettingsTab tab : {SettingsTab::general, SettingsTab::folders, SettingsTab::drive}) {
            host.model.settingsTab = tab;
            SettingsWindow window(host);
            const char* names[] = {"general-updates", "folders-empty", "drive-none"};
            save(window, names[static_cast<int>(tab)]);
        }
    }
    {
        test::FakeSettingsHost host;
        setUp(host, home);
        DriveOption archive, stick;
        archive.volume.name = test::longDriveName;
        archive.volume.mountPath = "/media/u/Archive";
        archive.volume.fileSystem = "ext4";
        archive.volume.availableBytes = 1'214 * GB;
        archive.volume.totalBytes = 2'000 * GB;
        archive.existing = Drive{"D1", test::longDriveName};
        archive.usedBefore = true;
        stick = archive;
        stick.volume.name = "STICK";
        stick.volume.mountPath = "/media/u/STICK";
        stick.volume.availableBytes = 60 * GB;
        stick.volume.totalBytes = 64 * GB;
        stick.existing.reset();
        stick.usedBefore = false;
        // A drive used before that one could switch to, and two that can't be used: each row
        // shows all its lines.
        DriveOption before = stick;
        before.volume.name = "Backup 2TB";
        before.volume.mountPath = "/media/u/Backup";
        before.existing = Drive{"D2", "Backup 2TB"};
        before.usedBefore = true;
        DriveOption readOnly = stick;
        readOnly.volume.name = "CAMERA";
        readOnly.volume.mountPath = "/media/u/CAMERA";
        readOnly.problems = {DriveProblem::readOnly()};
        DriveOption fat = stick;
        fat.volume.name = "OLD STICK";
        fat.volume.mountPath = "/media/u/OLD";
        fat.volume.fileSystem = "msdos";
        fat.problems = {DriveProblem::fat32()};
        DriveChooser chooser({archive, stick, before, readOnly, fat}, host.model.settings.drive, nullptr);
        save(chooser, "chooser");
        DriveChooser none({}, host.model.settings.drive, nullptr);
        save(none, "chooser-empty");
    }
}

}  // namespace
}  // namespace keldwick
