#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QApplication>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableView>
#include <QTest>
#include <QToolButton>
#include <gtest/gtest.h>

#include "files/DriveContentsView.h"
#include "files/DriveTable.h"
#include "files/FakeFilesHost.h"
#include "files/FilesWindow.h"
#include "files/MovedFilesView.h"
#include "support/KeyboardWalk.h"
#include "support/TempDir.h"

namespace keldwick {
namespace {

OffloadRecord record(int64_t id, const std::string& name) {
    OffloadRecord r;
    r.id = id;
    r.originalPath = "/home/u/Documents/" + name;
    r.driveID = "ID";
    r.driveRelativePath = "Keldwick/" + name;
    r.phase = Phase::offloaded;
    r.size = 1000 * id;
    return r;
}

// The menu shown now over `parent`, with its actions' titles.
QMenu* shownMenu(QWidget& parent) {
    for (QMenu* menu : parent.findChildren<QMenu*>())
        if (menu->isVisible()) return menu;
    return nullptr;
}

QAction* actionTitled(QMenu& menu, const QString& title) {
    for (QAction* action : menu.actions())
        if (action->text() == title) return action;
    return nullptr;
}

struct FilesKeyboardTest : ::testing::Test {
    test::FakeFilesHost host;
    test::TempDir drive;

    void SetUp() override {
        host.model.records = {record(1, "a.iso"), record(2, "b.iso"), record(3, "c.iso")};
        test::writeFile(drive / "one.txt", "1");
        test::makeDirs(drive / "Folder");
        host.model.driveRoot = drive.path();
    }
};

TEST_F(FilesKeyboardTest, TabReachesEveryControlOfBothTabsAndComesBack) {
    FilesWindow window(host);
    ASSERT_TRUE(test::activateForKeys(window));
    window.moved()->setSelection({1, 2});  // the selection's button takes part
    window.moved()->table()->setFocus();
    EXPECT_EQ(test::keyboardOrderProblem(window), "");

    window.everythingTab()->click();
    ASSERT_NE(window.everything(), nullptr);
    QSignalSpy listed(window.everything(), &DriveContentsView::listed);
    ASSERT_TRUE(window.everything()->isLoading() ? listed.wait(5000) : true);
    window.everything()->table()->setFocus();
    EXPECT_EQ(test::keyboardOrderProblem(window), "");
}

TEST_F(FilesKeyboardTest, SegmentsSwitchByArrowsSpaceAndTheirAccessibleActions) {
    FilesWindow window(host);
    ASSERT_TRUE(test::activateForKeys(window));
    // A screen reader's Toggle checks the segment without a click: the view follows.
    QAccessibleInterface* everything = QAccessible::queryAccessibleInterface(window.everythingTab());
    ASSERT_NE(everything->actionInterface(), nullptr);
    everything->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
    EXPECT_EQ(host.model.filesTab, FilesTab::everything);
    EXPECT_NE(window.everything(), nullptr);
    EXPECT_EQ(window.moved(), nullptr);
    QAccessible::queryAccessibleInterface(window.movedTab())
        ->actionInterface()
        ->doAction(QAccessibleActionInterface::pressAction());
    EXPECT_EQ(host.model.filesTab, FilesTab::moved);
    EXPECT_NE(window.moved(), nullptr);

    window.movedTab()->setFocus(Qt::TabFocusReason);
    QTest::keyClick(window.movedTab(), Qt::Key_Right);
    EXPECT_EQ(host.model.filesTab, FilesTab::everything);
    EXPECT_EQ(QApplication::focusWidget(), window.everythingTab());
    QTest::keyClick(window.everythingTab(), Qt::Key_Left);
    EXPECT_EQ(host.model.filesTab, FilesTab::moved);
    window.everythingTab()->setFocus(Qt::TabFocusReason);
    QTest::keyClick(window.everythingTab(), Qt::Key_Space);
    EXPECT_EQ(host.model.filesTab, FilesTab::everything);
}

TEST_F(FilesKeyboardTest, MenuKeysOfferTheSelectionsActions) {
    FilesWindow window(host);
    ASSERT_TRUE(test::activateForKeys(window));
    MovedFilesView& moved = *window.moved();
    moved.setSelection({1, 3});
    moved.table()->setFocus();
    for (const auto& [key, modifiers] : {std::pair{Qt::Key_F10, Qt::ShiftModifier}, std::pair{Qt::Key_Menu, Qt::NoModifier}}) {
        QTest::keyClick(moved.table(), key, modifiers);
        QCoreApplication::processEvents();
        QMenu* menu = shownMenu(moved);
        ASSERT_NE(menu, nullptr);
        QAction* bringBack = actionTitled(*menu, "Bring Back");
        ASSERT_NE(bringBack, nullptr);
        bringBack->trigger();
        menu->close();
        QCoreApplication::processEvents();
    }
    EXPECT_EQ(host.restored, (std::vector<std::vector<int64_t>>(2, {1, 3})));

    // Return on a focused button presses it, though a window's buttons ignore it by themselves.
    for (QPushButton* button : moved.findChildren<QPushButton*>()) {
        if (button->text() != QStringLiteral("Move Files\u2026")) continue;
        button->setFocus(Qt::TabFocusReason);
        QTest::keyClick(button, Qt::Key_Return);
        QTest::qWait(300);  // the press is animated
    }
    EXPECT_EQ(host.calls.back(), "chooseFilesToMove");
}

// Return on the browser's focused row does what a double-click does: a file opens, a
// folder is entered. A folder shows its kind with no size beside it.
TEST_F(FilesKeyboardTest, ReturnOnABrowserRowOpensItAsADoubleClickDoes) {
    FilesWindow window(host);
    ASSERT_TRUE(test::activateForKeys(window));
    window.everythingTab()->click();
    DriveContentsView& view = *window.everything();
    QSignalSpy listed(&view, &DriveContentsView::listed);
    ASSERT_TRUE(view.isLoading() ? listed.wait(5000) : true);
    QTableView* table = view.table();
    const auto rowNamed = [&](const QString& name) {
        for (int row = 0; row < view.model()->rowCount(); ++row)
            if (view.model()->index(row, DriveTable::nameColumn).data().toString() == name) return row;
        return -1;
    };
    const int file = rowNamed("one.txt"), folder = rowNamed("Folder");
    ASSERT_GE(file, 0);
    ASSERT_GE(folder, 0);
    EXPECT_EQ(view.model()->index(folder, DriveTable::sizeColumn).data().toString(), "");
    EXPECT_EQ(view.model()->index(folder, DriveTable::kindColumn).data().toString(), "Folder");

    table->setFocus();
    table->setCurrentIndex(view.model()->index(file, 0));
    QTest::keyClick(table, Qt::Key_Return);
    EXPECT_EQ(host.opened, std::vector<std::string>{drive / "one.txt"});
    table->setCurrentIndex(view.model()->index(folder, 0));
    QTest::keyClick(table, Qt::Key_Enter, Qt::KeypadModifier);
    ASSERT_TRUE(view.isLoading() ? listed.wait(5000) : true);
    ASSERT_EQ(view.crumbButtons().size(), 2u);
    EXPECT_EQ(view.crumbButtons().back()->text(), "Folder");
    EXPECT_EQ(host.opened.size(), 1u);
}

// The search field's clear button, a button of Qt's own, is named for a screen reader.
TEST_F(FilesKeyboardTest, TheSearchFieldsClearButtonIsNamed) {
    FilesWindow window(host);
    window.show();
    auto* search = window.findChild<QLineEdit*>();
    ASSERT_NE(search, nullptr);
    search->setText(QStringLiteral("iso"));
    QCoreApplication::processEvents();
    int named = 0;
    for (auto* button : search->findChildren<QToolButton*>()) {
        if (!button->isVisible()) continue;
        EXPECT_EQ(QAccessible::queryAccessibleInterface(button)->text(QAccessible::Name), "Clear Search");
        ++named;
    }
    EXPECT_EQ(named, 1);
}

TEST_F(FilesKeyboardTest, AccessibleNamesAndDescriptionsArePlainText) {
    host.model.settings.drive = Drive{"ID", "A drive with a name much too long for the segment to show"};
    FilesWindow window(host);
    window.resize(820, 460);
    window.show();
    window.moved()->setSelection({1});
    QCoreApplication::processEvents();
    EXPECT_FALSE(window.everythingTab()->toolTip().isEmpty());  // the long name is shortened
    EXPECT_EQ(test::accessibleMarkup(window), std::vector<std::string>{});
}

}  // namespace
}  // namespace keldwick
