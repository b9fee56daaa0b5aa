#include <QApplication>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QSemaphore>
#include <QSignalSpy>
#include <QTableView>
#include <QTest>
#include <QToolBar>
#include <QContextMenuEvent>
#include <QAction>
#include <QThreadPool>
#include <QToolButton>
#include <QUrl>
#include <gtest/gtest.h>
#include <map>
#include <unicode/locid.h>
#include <memory>

#include "desktop/Pictures.h"
#include "drives/DriveLayout.h"
#include "files/DriveContentsView.h"
#include "files/DriveTable.h"
#include "files/DropOverlay.h"
#include "files/FakeFilesHost.h"
#include "files/FilesHost.h"
#include "files/FilesWindow.h"
#include "files/MovedFilesView.h"
#include "model/StatusTexts.h"
#include "support/TempDir.h"
#include "ui/EmptyStateView.h"
#include "ui/InterfaceLocale.h"

namespace keldwick {
namespace {

using FakeHost = test::FakeFilesHost;

OffloadRecord record(int64_t id, const std::string& name, Phase phase, bool folder = false) {
    OffloadRecord r;
    r.id = id;
    r.originalPath = "/home/u/Documents/" + name;
    r.driveID = "ID";
    r.driveRelativePath = "Keldwick/" + name;
    r.phase = phase;
    r.size = 1000 * id;
    r.isDirectory = folder;
    return r;
}

std::vector<int64_t> shownIds(const MovedFilesView& view) {
    return view.model()->ids();
}

TEST(MovedFilesViewTest, ActionsCallTheModelWithTheRightIds) {
    FakeHost host;
    host.model.records = {record(1, "a", Phase::offloaded), record(2, "b", Phase::returned),
                          record(3, "c", Phase::linkMissing), record(4, "d", Phase::restoreCopying)};
    MovedFilesView view(host);
    EXPECT_EQ(shownIds(view), (std::vector<int64_t>{2, 3, 4, 1}));

    view.run(MovedAction::restore, {1, 2, 3});  // a returned record is not restorable
    view.run(MovedAction::keepOnComputer, {1, 2});
    view.run(MovedAction::restoreCopy, {2});
    view.run(MovedAction::showOnDrive, {1, 3});
    host.present = {"/home/u/Documents/a"};
    view.run(MovedAction::showInFileManager, {1, 3});
    view.openRecords({1, 4});  // the item being restored opens nothing
    EXPECT_EQ(host.restored, (std::vector<std::vector<int64_t>>{{1, 3}}));
    EXPECT_EQ(host.calls, (std::vector<std::string>{"keepOnComputer 1", "restoreCopy 2"}));
    EXPECT_EQ(host.shown, (std::vector<std::vector<std::string>>{
                              {"/media/u/Vault/Keldwick/a", "/media/u/Vault/Keldwick/c"},
                              {"/home/u/Documents/a", "/home/u/Documents"}}));
    EXPECT_EQ(host.opened, std::vector<std::string>{"/home/u/Documents/a"});

    // The bottom bar's selection button brings back the restorable selected ones.
    view.setSelection({1, 2, 3});
    EXPECT_EQ(view.selectionButton()->text(), "Bring Back 2 Files");
    view.selectionButton()->click();
    EXPECT_EQ(host.restored.back(), (std::vector<int64_t>{1, 3}));

    // Deleting asks first, and only the confirmed button deletes.
    view.run(MovedAction::deleteCopy, {2});
    ASSERT_NE(view.confirmation(), nullptr);
    EXPECT_TRUE(view.confirmation()->text().startsWith(QString::fromUtf8("Delete the copy of \u201Cb\u201D from Vault?")));
    for (QAbstractButton* button : view.confirmation()->buttons())
        if (button->text() == "Delete Copy") button->click();
    EXPECT_EQ(host.calls.back(), "deleteDriveCopy 2");
}

TEST(MovedFilesViewTest, SelectionSearchAndProblemBarFollowTheModel) {
    FakeHost host;
    host.model.records = {record(3, "three.txt", Phase::linkMissing), record(5, "five.txt", Phase::offloaded),
                          record(7, "seven.txt", Phase::offloaded)};
    MovedFilesView view(host);
    view.show();
    EXPECT_EQ(host.refreshes, 1);
    view.setSelection({3});
    EXPECT_FALSE(view.problemBar()->isHidden());
    view.setSelection({3, 5});
    EXPECT_TRUE(view.problemBar()->isHidden());

    // A refresh without 5 and with 3 elsewhere: 3 stays selected in the table, 5 in the set.
    host.model.records = {record(7, "seven.txt", Phase::offloaded), record(3, "three.txt", Phase::offloaded)};
    host.changed();
    QCoreApplication::processEvents();
    EXPECT_EQ(view.selection(), (std::set<int64_t>{3, 5}));
    EXPECT_EQ(view.model()->idsOf(view.table()->selectionModel()->selectedRows()), std::set<int64_t>{3});

    view.setSearch("SEVEN");
    EXPECT_EQ(shownIds(view), std::vector<int64_t>{7});
    view.setSearch("nothing");
    ASSERT_NE(view.emptyState(), nullptr);
    EXPECT_EQ(view.emptyState()->titleLabel()->text(), EmptyStateView::noResultsTitle("nothing"));
    EXPECT_EQ(view.selection(), (std::set<int64_t>{3, 5}));  // a hidden selection is kept
}

// The table's rows are positions in the model's own list: a refresh that keeps the list
// keeps the rows, and one that brings a new list shows the new records, texts included.
TEST(MovedFilesViewTest, RowsFollowTheSharedRecordsAcrossRefreshes) {
    FakeHost host;
    host.model.records = {record(1, "a", Phase::offloaded), record(2, "b", Phase::offloaded)};
    MovedFilesView view(host);
    view.show();
    const auto cell = [&](int row, int column) { return view.model()->index(row, column).data().toString(); };
    EXPECT_EQ(cell(0, MovedTable::nameColumn), "a");
    QSignalSpy resets(view.model(), &QAbstractItemModel::modelReset);
    host.changed();
    QCoreApplication::processEvents();
    EXPECT_EQ(resets.count(), 0);

    std::vector<OffloadRecord> edited = host.model.records;
    edited[0].originalPath = "/home/u/Documents/renamed";
    edited[1].phase = Phase::linkMissing;
    host.model.records = edited;
    host.changed();
    QCoreApplication::processEvents();
    EXPECT_EQ(resets.count(), 1);
    EXPECT_EQ(shownIds(view), (std::vector<int64_t>{2, 1}));
    EXPECT_EQ(cell(0, MovedTable::statusColumn), "Shortcut removed");
    EXPECT_EQ(cell(1, MovedTable::nameColumn), "renamed");
}

TEST(MovedFilesViewTest, DropsHandLocalPathsToTheMove) {
    QMimeData textOnly;
    textOnly.setText("hello");
    EXPECT_EQ(droppedPaths(textOnly), std::nullopt);
    QMimeData mixed;
    mixed.setUrls({QUrl("https://example.com/x"), QUrl::fromLocalFile("/home/u/a b.txt"),
                   QUrl::fromLocalFile("/home/u/c")});
    EXPECT_EQ(droppedPaths(mixed), (std::vector<std::string>{"/home/u/a b.txt", "/home/u/c"}));

    FakeHost host;
    MovedFilesView view(host);
    view.resize(600, 400);
    view.show();
    // A drop goes to the widget that took the drag as it entered.
    QDragEnterEvent enter(QPoint(50, 50), Qt::CopyAction, &mixed, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(view.table()->viewport(), &enter);
    EXPECT_TRUE(enter.isAccepted());
    // While it hovers, the frame with the drive-with-a-plus plate names where it goes.
    EXPECT_TRUE(view.dropOverlay()->isVisible());
    EXPECT_EQ(view.dropOverlay()->text().toStdString(), "Move to " + driveDisplayName(host.model));
    EXPECT_TRUE(view.dropOverlay()->rect().contains(view.dropOverlay()->plateRect()));
    QDropEvent drop(QPointF(50, 50), Qt::CopyAction, &mixed, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(view.table()->viewport(), &drop);
    EXPECT_TRUE(drop.isAccepted());
    EXPECT_FALSE(view.dropOverlay()->isVisible());
    EXPECT_TRUE(host.moved.empty());  // after the drop has returned
    QCoreApplication::processEvents();
    EXPECT_EQ(host.moved, (std::vector<std::vector<std::string>>{{"/home/u/a b.txt", "/home/u/c"}}));
    QDragEnterEvent refused(QPoint(50, 50), Qt::CopyAction, &textOnly, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(view.table()->viewport(), &refused);
    EXPECT_FALSE(refused.isAccepted());
}

TEST(MovedFilesViewTest, NamesStayPlainText) {
    FakeHost host;
    host.model.records = {record(1, "<b>bold", Phase::linkMissing)};
    MovedFilesView view(host);
    view.setSelection({1});
    const QModelIndex name = view.model()->index(0, MovedTable::nameColumn);
    EXPECT_EQ(name.data().toString(), "<b>bold");
    EXPECT_FALSE(name.data(Qt::ToolTipRole).toString().contains("<b>"));
    EXPECT_EQ(view.statusLabel()->textFormat(), Qt::PlainText);
}

struct Drive {
    test::TempDir dir;
    Drive() {
        test::writeFile(dir / "b.txt", "b");
        test::writeFile(dir / "A/one.txt", "1");
        test::writeFile(dir / "A/Sub/two.txt", "2");
        test::makeDirs(dir / "Empty");
        test::makeDirs(DriveLayout::appFolder(dir.path()) + "/x");
    }
};

bool waitListed(DriveContentsView& view) {
    QSignalSpy spy(&view, &DriveContentsView::listed);
    return view.isLoading() ? spy.wait(5000) : true;
}

TEST(DriveContentsViewTest, BrowsesTheDrive) {
    Drive drive;
    FakeHost host;
    host.model.driveRoot = drive.dir.path();
    DriveContentsView view(host);
    // Nothing listed yet: a bar that moves without saying how far, and no words.
    ASSERT_TRUE(view.isLoading());
    EXPECT_FALSE(view.loadingIndicator()->isHidden());
    EXPECT_EQ(view.loadingIndicator()->maximum(), 0);
    EXPECT_FALSE(view.loadingIndicator()->isTextVisible());
    EXPECT_EQ(view.overlay(), nullptr);
    ASSERT_TRUE(waitListed(view));
    EXPECT_TRUE(view.loadingIndicator()->isHidden());
    EXPECT_EQ(view.countLabel()->foregroundRole(), QPalette::PlaceholderText);  // the footer is secondary
    EXPECT_FALSE(view.backButton()->isEnabled());
    std::vector<std::string> names;
    for (const auto& item : view.items()) names.push_back(item.name());
    EXPECT_EQ(names, (std::vector<std::string>{"A", "b.txt", "Empty", DriveLayout::folderName(drive.dir.path())}));

    view.open({drive.dir / "A"});
    ASSERT_TRUE(waitListed(view));
    view.open({drive.dir / "A/Sub"});
    ASSERT_TRUE(waitListed(view));
    EXPECT_EQ(view.countLabel()->text(), "1 item");
    EXPECT_EQ(view.crumbButtons().size(), 3u);  // the drive, A, Sub
    view.back();
    ASSERT_TRUE(waitListed(view));
    EXPECT_EQ(view.folder(), drive.dir / "A");
    view.open({drive.dir / "A/one.txt", drive.dir / "A/Sub"});  // several: each opens, no navigation
    EXPECT_EQ(host.opened, (std::vector<std::string>{drive.dir / "A/one.txt", drive.dir / "A/Sub"}));
    view.reveal({});
    EXPECT_EQ(host.shown, (std::vector<std::vector<std::string>>{{}}));

    view.setFolder(drive.dir / "Empty");
    ASSERT_TRUE(waitListed(view));
    EXPECT_EQ(view.countLabel()->text(), "0 items");
    EXPECT_EQ(view.overlay()->titleLabel()->text(), "This folder is empty");
    view.setSearch("x");
    EXPECT_EQ(view.overlay()->titleLabel()->text(), EmptyStateView::noResultsTitle("x"));

    view.setFolder(drive.dir / "b.txt");  // not a folder
    ASSERT_TRUE(waitListed(view));
    ASSERT_TRUE(view.failure());
    EXPECT_EQ(view.overlay()->titleLabel()->text(), "Can't open this folder");
    view.setFolder(DriveLayout::appFolder(drive.dir.path()) + "/x");
    ASSERT_TRUE(waitListed(view));
    EXPECT_FALSE(view.failure());
    EXPECT_FALSE(view.note()->parentWidget()->isHidden());

    // Dragging rows out offers their files.
    view.setSearch("");
    view.setFolder(std::nullopt);
    ASSERT_TRUE(waitListed(view));
    std::unique_ptr<QMimeData> dragged(view.model()->mimeData({view.model()->index(1, 0), view.model()->index(1, 2)}));
    EXPECT_EQ(dragged->urls(), QList<QUrl>{QUrl::fromLocalFile(QString::fromStdString(drive.dir / "b.txt"))});

    // Unplugged and back: the top level again.
    view.setFolder(drive.dir / "A");
    host.model.driveRoot.reset();
    host.changed();
    EXPECT_EQ(view.folder(), std::nullopt);
    host.model.driveRoot = drive.dir.path();
    host.changed();
    ASSERT_TRUE(waitListed(view));
    EXPECT_EQ(view.items().size(), 4u);
}

// Under LANG=de_DE the toolkit's and ICU's default locales are German: the table still
// speaks the windows' English.
TEST(DriveContentsViewTest, TheTableSpeaksEnglishUnderAGermanLocale) {
    const QLocale before;
    UErrorCode status = U_ZERO_ERROR;
    const icu::Locale icuBefore = icu::Locale::getDefault();
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    icu::Locale::setDefault(icu::Locale("de_DE"), status);
    useInterfaceLocale();

    DriveTable table;
    table.setItems({DriveItem{"/media/u/Archive/notes.txt", false, 1'234'567, Date{1'727'524'800}}});
    const auto text = [&](int row, int column) {
        return table.data(table.index(row, column)).toString().toStdString();
    };
    EXPECT_EQ(text(0, DriveTable::kindColumn), "plain text document");
    EXPECT_EQ(text(0, DriveTable::sizeColumn), "1.23 MB");
    EXPECT_TRUE(text(0, DriveTable::modifiedColumn).starts_with("28 Sept 2024")) << text(0, DriveTable::modifiedColumn);

    QLocale::setDefault(before);
    icu::Locale::setDefault(icuBefore, status);
}

TEST(DriveContentsViewTest, AStaleListingIsDropped) {
    FakeHost host;
    host.model.driveRoot = "/drive";
    QSemaphore release;
    host.lister = [&release](const std::string& folder) {
        DriveItem item;
        item.path = folder + "/only";
        if (folder == "/drive/slow") release.acquire();
        return std::vector<DriveItem>{item};
    };
    DriveContentsView view(host);
    ASSERT_TRUE(waitListed(view));
    view.setFolder("/drive/slow");
    view.setFolder("/drive/fast");
    ASSERT_TRUE(waitListed(view));
    release.release();
    QThreadPool::globalInstance()->waitForDone();
    QCoreApplication::processEvents();
    ASSERT_EQ(view.items().size(), 1u);
    EXPECT_EQ(view.items()[0].path, "/drive/fast/only");
}

// A view closed while its listing runs is never written to (the sanitizer sees a stray write).
TEST(DriveContentsViewTest, AListingEndingAfterTheViewIsGoneIsDropped) {
    FakeHost host;
    host.model.driveRoot = "/drive";
    QSemaphore release;
    host.lister = [&release](const std::string&) {
        release.acquire();
        return std::vector<DriveItem>{DriveItem{}};
    };
    auto view = std::make_unique<DriveContentsView>(host);
    EXPECT_TRUE(view->isLoading());
    view.reset();
    release.release();
    QThreadPool::globalInstance()->waitForDone();
    QCoreApplication::processEvents();
}

TEST(FilesWindowTest, CtrlFGoesToTheSearchFromAnywhereInTheWindow) {
    FakeHost host;
    host.model.records = {record(1, "a.iso", Phase::offloaded)};
    auto* window = new FilesWindow(host);
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->QWidget::show();
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window));
    window->searchField()->setText("old");
    window->moved()->findChild<QTableView*>()->setFocus();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_F, Qt::ControlModifier);
    EXPECT_EQ(QApplication::focusWidget(), window->searchField());
    EXPECT_EQ(window->searchField()->selectedText(), "old");  // typing replaces the last search
    window->close();
}

// The toolbar can't be hidden: no "Show" entry by right-click or the Menu key, none in the
// window's own menu; and were it hidden, its search would stop filtering.
TEST(FilesWindowTest, TheToolbarCantBeHiddenAndItsSearchGoesWithIt) {
    FakeHost host;
    host.model.records = {record(1, "a.iso", Phase::offloaded), record(2, "b.zip", Phase::offloaded)};
    FilesWindow window(host);
    window.show();
    QCoreApplication::processEvents();
    EXPECT_EQ(window.createPopupMenu(), nullptr);
    auto* toolbar = window.findChild<QToolBar*>();
    ASSERT_NE(toolbar, nullptr);
    EXPECT_FALSE(toolbar->isMovable());
    EXPECT_FALSE(toolbar->toggleViewAction()->isVisible());
    for (QWidget* target : {static_cast<QWidget*>(window.movedTab()), static_cast<QWidget*>(toolbar)}) {
        QContextMenuEvent byKey(QContextMenuEvent::Keyboard, QPoint(4, 4), target->mapToGlobal(QPoint(4, 4)));
        QCoreApplication::sendEvent(target, &byKey);
        QCoreApplication::processEvents();
        EXPECT_EQ(QApplication::activePopupWidget(), nullptr);
    }

    auto shown = [&] { return window.moved()->model()->rowCount(); };
    ASSERT_EQ(shown(), 2);
    window.searchField()->setText("a.iso");
    QCoreApplication::processEvents();
    EXPECT_EQ(shown(), 1);
    toolbar->hide();
    QCoreApplication::processEvents();
    EXPECT_EQ(shown(), 2);
    toolbar->show();
    QCoreApplication::processEvents();
    EXPECT_EQ(shown(), 1);
}

TEST(FilesWindowTest, TabsLiveInTheModel) {
    FakeHost host;
    host.lister = [](const std::string&) { return std::vector<DriveItem>{}; };
    {
        FilesWindow window(host);
        EXPECT_GE(window.minimumSize().width(), 820);
        EXPECT_GE(window.minimumSize().height(), 460);
        ASSERT_NE(window.moved(), nullptr);
        EXPECT_EQ(window.everythingTab()->text(), "Everything on Vault");
        host.model.settings.drive.reset();
        host.changed();
        EXPECT_EQ(window.everythingTab()->text(), "Everything on your drive");
        window.searchField()->setText("abc");
        window.everythingTab()->click();
        EXPECT_EQ(host.model.filesTab, FilesTab::everything);
        ASSERT_NE(window.everything(), nullptr);
        EXPECT_EQ(window.searchField()->text(), "");
        EXPECT_EQ(window.searchField()->placeholderText(), "Search this folder");
    }
    EXPECT_EQ(host.calls, std::vector<std::string>{"clearFilesProblem"});  // the moved tab went
    FilesWindow again(host);
    EXPECT_EQ(again.everything() != nullptr, true);
    EXPECT_TRUE(again.everythingTab()->isChecked());
}

// The files problem is cleared when the window closes, never as it is destroyed: a
// model announcing the change then would reach a window half torn down.
TEST(FilesWindowTest, ClosingClearsTheProblemAndDestroyingReachesNothing) {
    FakeHost host;
    host.lister = [](const std::string&) { return std::vector<DriveItem>{}; };
    host.model.filesProblem = "Couldn't move “a”.";
    {
        FilesWindow window(host);
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
        window.close();
        EXPECT_FALSE(host.model.filesProblem);
        EXPECT_EQ(host.calls, std::vector<std::string>{"clearFilesProblem"});
    }
    host.calls.clear();
    host.model.filesProblem = "Couldn't move “b”.";
    {
        FilesWindow window(host);
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    }  // destroyed while shown, as at quitting
    WindowRegistry registry;
    registry.add(AppWindow::offloaded, filesWindowEntry(host));
    ASSERT_TRUE(registry.open(AppWindow::offloaded));
    host.model.filesProblem = "Couldn't move “c”.";
    QTest::qWait(10);
    EXPECT_TRUE(host.calls.empty());
}

}  // namespace
}  // namespace keldwick

namespace keldwick {
namespace {

// The moved files at a large font, with the long drive name: what each text needs is
// measured against the room it gets.
TEST(FilesLayoutTest, ALargeFontGrowsTheRowsAndColumnsAndALongNameKeepsOffTheButtons) {
    const QFont before = QApplication::font();
    QFont large = before;
    large.setPointSizeF(before.pointSizeF() * 1.8);
    QApplication::setFont(large);
    {
        test::FakeFilesHost host;
        host.model.settings.drive = keldwick::Drive{"ID", test::longDriveName};
        const double minute = 60, day = 86400;
        int64_t id = 0;
        for (double ago : {6 * minute, 59 * minute, 23 * 3600.0, day, 40 * day, 330 * day, 800 * day}) {
            ++id;
            OffloadRecord r = record(id, "Report " + std::to_string(id) + ".ods", Phase::offloaded);
            r.size = 888'880'000;
            r.createdAt = host.now().adding(-ago);
            host.model.records.push_back(r);
        }
        FilesWindow window(host);
        window.resize(FilesWindow::defaultWidth, FilesWindow::defaultHeight);
        window.show();
        QCoreApplication::processEvents();
        MovedFilesView* view = window.moved();
        ASSERT_NE(view, nullptr);
        QTableView* table = view->table();
        const QFontMetrics metrics = table->fontMetrics();
        for (int row = 0; row < table->model()->rowCount(); ++row) {
            EXPECT_GE(table->rowHeight(row), metrics.height() + 4) << row;
            for (int column : {int(MovedTable::sizeColumn), int(MovedTable::movedColumn)}) {
                const QString text = table->model()->index(row, column).data().toString();
                // A cell's text has its padding on either side.
                EXPECT_LE(metrics.horizontalAdvance(text) + 8, table->columnWidth(column))
                    << text.toStdString() << " in a column " << table->columnWidth(column) << " px wide";
            }
        }
        // The footer's summary names the long drive: shortened, never under the buttons.
        QLabel* status = view->statusLabel();
        EXPECT_LE(status->fontMetrics().horizontalAdvance(status->text()), status->contentsRect().width());
        for (QPushButton* button : view->findChildren<QPushButton*>()) {
            if (!button->isVisible() || button->parentWidget() != status->parentWidget()) continue;
            EXPECT_FALSE(status->geometry().intersects(button->geometry())) << button->text().toStdString();
            EXPECT_GE(button->width(), button->sizeHint().width()) << button->text().toStdString();
        }
        EXPECT_TRUE(status->toolTip().contains(QString::fromUtf8(test::longDriveName).toHtmlEscaped()) ||
                    status->text().contains(QString::fromUtf8(test::longDriveName)));
        const QStringList cut = test::cutTexts(&window);
        EXPECT_TRUE(cut.isEmpty()) << cut.join("; ").toStdString();
    }
    QApplication::setFont(before);
}

}  // namespace
}  // namespace keldwick
