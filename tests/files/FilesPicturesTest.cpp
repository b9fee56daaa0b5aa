#include <QDragEnterEvent>
#include <QLabel>
#include <QMimeData>
#include <QUrl>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTableView>
#include <QToolButton>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "desktop/Pictures.h"
#include "drives/DriveLayout.h"
#include "files/DriveContentsView.h"
#include "files/FakeFilesHost.h"
#include "files/FilesWindow.h"
#include "files/MovedFilesView.h"
#include "support/TempDir.h"
#include "ui/Symbols.h"

namespace keldwick {
namespace {

constexpr int64_t MB = 1'000'000;
constexpr double day = 86400;
const Date kNow{1'800'000'000};
const std::string kMachine = "Workstation (4F2A91C0)";

// Three hundred moved items of a few years of downloads, photos, video and music: mostly
// on the drive, a handful in every other phase.
std::vector<OffloadRecord> journal(const std::string& driveRoot) {
    struct Source {
        const char* folder;
        const char* pattern;
        bool isFolder;
        int64_t size;
    };
    const Source sources[] = {
        {"/home/u/Pictures", "IMG_%04d.HEIC", false, 3 * MB},
        {"/home/u/Videos", "Holiday clip %d.mov", false, 1'400 * MB},
        {"/home/u/Downloads", "installer-%d.0.2-x86_64.AppImage", false, 180 * MB},
        {"/home/u/Documents/Photos %d", "", true, 8'200 * MB},
        {"/home/u/Music", "Live set %d (remastered).flac", false, 410 * MB},
        {"/home/u/Documents/Scans", "Invoice %04d.pdf", false, 2 * MB},
    };
    const Phase rare[] = {Phase::offloadCopying,  Phase::offloadVerified, Phase::offloadSwapping,
                          Phase::offloadCleanup,  Phase::restoreCopying,  Phase::restoreSwapping,
                          Phase::restoreCleanup,  Phase::restored,        Phase::abandoned,
                          Phase::superseded,      Phase::returned,        Phase::linkMissing};
    std::vector<OffloadRecord> records;
    for (int i = 0; i < 300; ++i) {
        const Source& source = sources[i % std::size(sources)];
        char name[128];
        std::snprintf(name, sizeof name, source.isFolder ? source.folder : source.pattern, 2010 + i);
        OffloadRecord r;
        r.id = i + 1;
        r.originalPath = source.isFolder ? std::string(name) : std::string(source.folder) + "/" + name;
        r.isDirectory = source.isFolder;
        r.driveID = "ID";
        r.driveRelativePath = DriveLayout::relativePath(r.originalPath, kMachine, DriveLayout::folderName(driveRoot));
        r.size = source.size + (i * 7'919 % 997) * source.size / 1000;
        // One in twenty-five is in a rarer phase, each of them at least once.
        r.phase = i % 25 == 3 ? rare[(i / 25) % std::size(rare)] : Phase::offloaded;
        r.createdAt = kNow.adding(-((i * 37) % 700) * day - (i % 24) * 3600);
        r.updatedAt = r.createdAt;
        records.push_back(r);
    }
    return records;
}

void touch(const std::string& path, double daysAgo) {
    const double when = kNow.secondsSince1970 - daysAgo * day;
    const timespec times[2] = {{time_t(when), 0}, {time_t(when), 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0) << path;
}

// A file of `size` bytes that takes no room (a hole), modified `daysAgo`.
void sparseFile(const std::string& path, int64_t size, double daysAgo) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    const int fd = ::open(path.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
    ASSERT_GE(fd, 0) << path;
    ASSERT_EQ(::ftruncate(fd, size), 0);
    ::close(fd);
    touch(path, daysAgo);
}

// What a backup drive holds beside the items moved there: folders of its own and the
// app folder with this computer's moved items.
void driveTree(const test::TempDir& drive, const std::vector<OffloadRecord>& records) {
    for (const char* folder : {"Backups 2023", "Camera imports", "Film scans", "Old laptop"}) {
        std::filesystem::create_directories(drive / folder);
    }
    sparseFile(drive / "Family tree.gramps", 14 * MB, 400);
    sparseFile(drive / "Laptop disk image 2022.img", 256'000 * MB, 600);
    sparseFile(drive / "README.txt", 2'400, 900);
    sparseFile(drive / "Wedding (edited).mp4", 6'800 * MB, 120);
    sparseFile(drive / "recipes.odt", 380'000, 45);
    for (size_t i = 0; i < 40 && i < records.size(); ++i) {
        if (records[i].isDirectory) continue;
        sparseFile(records[i].drivePath(drive.path()), records[i].size, double(i * 11 % 300));
    }
    int n = 0;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(drive.path())) {
        if (entry.is_directory()) touch(entry.path(), 20 + 90 * (n++ % 7));
    }
}

bool listed(DriveContentsView& view) {
    QSignalSpy spy(&view, &DriveContentsView::listed);
    return view.isLoading() ? spy.wait(5000) : true;
}

void save(FilesWindow& window, const char* name) {
    test::savePicture(window, QSize(FilesWindow::defaultWidth, FilesWindow::defaultHeight),
                      QStringLiteral("files-%1").arg(QLatin1String(name)));
}

TEST(FilesPicturesTest, BothTabsWithAFullJournalAndARealDrive) {
    Symbols::useDesktopIconTheme();
    test::TempDir drive;
    const std::vector<OffloadRecord> records = journal(drive.path());
    driveTree(drive, records);

    test::FakeFilesHost host;
    host.model.settings.drive = Drive{"ID", test::longDriveName};
    host.model.driveRoot = drive.path();
    host.model.records = records;
    {
        FilesWindow window(host);
        ASSERT_NE(window.moved(), nullptr);
        save(window, "moved");

        // A search and three of its rows chosen.
        window.searchField()->setText("Holiday");
        window.moved()->update();
        window.moved()->setSelection({2, 8, 14});
        save(window, "moved-search");
        EXPECT_EQ(window.moved()->selection(), (std::set<int64_t>{2, 8, 14}));

        // Files dragged over the list, which will take them.
        QMimeData files;
        files.setUrls({QUrl::fromLocalFile(QStringLiteral("/home/u/Downloads/big.iso"))});
        QDragEnterEvent enter(QPoint(50, 50), Qt::CopyAction, &files, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(window.moved()->table()->viewport(), &enter);
        save(window, "moved-drop");
    }
    {
        // The drive is away: its banner and the records marked as waiting for it.
        host.model.driveRoot.reset();
        FilesWindow window(host);
        save(window, "moved-drive-away");
        host.model.driveRoot = drive.path();
    }
    {
        // Bring Everything Back left items on the drive: the footer says so whole.
        host.model.filesProblem =
            "Brought back 12 items (1.20 GB) to your computer. 3 items stay on your drive: there isn't room for them "
            "on your computer.";
        FilesWindow window(host);
        save(window, "moved-problem");
        host.model.filesProblem.reset();
    }
    {
        host.model.filesTab = FilesTab::everything;
        FilesWindow window(host);
        ASSERT_NE(window.everything(), nullptr);
        ASSERT_TRUE(listed(*window.everything()));
        EXPECT_EQ(window.everything()->items().size(), 10u);
        save(window, "everything");

        // Inside this computer's moved items, with the note that they are the app's.
        window.everything()->setFolder(DriveLayout::appFolder(drive.path()) + "/" + kMachine + "/home/u/Pictures");
        ASSERT_TRUE(listed(*window.everything()));
        EXPECT_TRUE(window.everything()->note()->isVisibleTo(&window));
        save(window, "everything-app-folder");
    }
}

}  // namespace
}  // namespace keldwick
