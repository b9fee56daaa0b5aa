#include <QTableView>
#include <gtest/gtest.h>

#include "desktop/Pictures.h"
#include "preview/FakePreviewHost.h"
#include "preview/PreviewContent.h"
#include "preview/PreviewWindow.h"
#include "ui/Symbols.h"

namespace keldwick {
namespace {

constexpr int64_t MB = 1'000'000;
constexpr int64_t GB = 1000 * MB;
constexpr double day = 86400;
const Date kNow{1'800'000'000};

Candidate item(const std::string& path, int64_t size, double daysAgo, bool folder = false) {
    return Candidate(path, folder, size, 1, Date{kNow.secondsSince1970 - daysAgo * day},
                     LastUsedSource::modificationDate, 0);
}

// What a few years of downloads and documents leave behind.
ScanReport realisticScan() {
    ScanReport r;
    r.candidates = {
        item("/home/u/Downloads/ubuntu-24.04-desktop-amd64.iso", 6'100 * MB, 210),
        item("/home/u/Documents/Wedding video raw footage", 24'300 * MB, 400, true),
        item("/home/u/Downloads/Steam backup 2023.tar", 11'800 * MB, 330),
        item("/home/u/Documents/Photos 2019", 8'400 * MB, 900, true),
        item("/home/u/Downloads/android-studio-2024.1.tar.gz", 1'200 * MB, 95),
        item("/home/u/Desktop/Old projects", 3'300 * MB, 180, true),
        item("/home/u/Documents/Taxes/2021 scans.pdf", 240 * MB, 620),
        item("/home/u/Downloads/GIMP-2.10.36-x86_64.AppImage", 310 * MB, 120),
        item("/home/u/Documents/Thesis/recordings.zip", 2'700 * MB, 760),
        item("/home/u/Downloads/conference talk.mp4", 1'900 * MB, 60),
        item("/home/u/Downloads/VirtualBox VMs/win10.vdi", 32'000 * MB, 500),
        item("/home/u/Documents/Music stems", 5'600 * MB, 450, true),
    };
    r.skipped = {{"/home/u/Documents/Current.kdbx", "In use"},
                 {"/home/u/Downloads/partial.crdownload", "Still downloading"}};
    r.skippedCount = 2;
    return r;
}

void save(QWidget& window, const char* name) {
    test::savePicture(window, QSize(PreviewWindow::defaultWidth, PreviewWindow::defaultHeight),
                      QStringLiteral("preview-%1").arg(QLatin1String(name)));
}

TEST(PreviewPicturesTest, TheWindowInItsMainStates) {
    Symbols::useDesktopIconTheme();
    {
        // The first automatic run on a computer low on space: a plan, one item excluded,
        // a shortfall, and the approval switch.
        test::FakePreviewHost host;
        host.model.computerFreeBytes = 12 * GB;
        host.model.settings.managedFolders = {"/home/u/Downloads", "/home/u/Documents", "/home/u/Desktop"};
        host.open = std::make_unique<PreviewModel>(PreviewKind::firstAutomatic, 60 * GB, false);
        host.open->toggle("/home/u/Documents/Photos 2019");
        host.open->apply(realisticScan(), 55 * GB);
        PreviewWindow window(host);
        window.content()->tableView()->selectRow(1);
        save(window, "plan");
    }
    {
        test::FakePreviewHost host;
        host.open = std::make_unique<PreviewModel>(PreviewKind::manual, 60 * GB, true);
        PreviewWindow window(host);
        save(window, "scanning");
    }
    {
        test::FakePreviewHost host;
        host.open = std::make_unique<PreviewModel>(PreviewKind::manual, 60 * GB, false);
        host.open->apply(realisticScan(), 0);
        PreviewWindow window(host);
        save(window, "drive-full");
    }
    {
        test::FakePreviewHost host;
        PreviewWindow window(host);
        save(window, "nothing-to-review");
    }
}

}  // namespace
}  // namespace keldwick
