#include <QApplication>
#include <QMenu>
#include <QPointer>
#include <QPushButton>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include "model/PreviewModel.h"
#include "preview/FakePreviewHost.h"
#include "preview/PreviewContent.h"
#include "preview/PreviewTable.h"
#include "preview/PreviewWindow.h"
#include "support/KeyboardWalk.h"

namespace keldwick {
namespace {

constexpr int64_t GB = 1'000'000'000;

ScanReport found() {
    ScanReport r;
    for (const char* name : {"a.iso", "b.zip", "c.tar"})
        r.candidates.emplace_back(std::string("/home/u/Downloads/") + name, false, 2 * GB, 1, Date{1'700'000'000},
                                  LastUsedSource::modificationDate, 1);
    r.skipped = {{"/home/u/Downloads/open.log", "In use <b>now</b>"}};
    r.skippedCount = 1;
    return r;
}

TEST(PreviewKeyboardTest, TabLeavesTheListAndTheMenuKeysActOnTheSelection) {
    test::FakePreviewHost host;
    host.start(PreviewKind::firstAutomatic).apply(found(), 100 * GB);
    PreviewWindow window(host);
    ASSERT_TRUE(test::activateForKeys(window));
    QCoreApplication::processEvents();
    PreviewContent& content = *window.content();
    QTableView* view = content.findChild<QTableView*>();
    ASSERT_NE(view, nullptr);
    view->setFocus();
    EXPECT_EQ(test::keyboardOrderProblem(window), "");

    view->setFocus();
    view->selectAll();
    std::vector<std::string> offered;
    QTimer::singleShot(0, [&] {
        if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
            for (QAction* action : menu->actions()) offered.push_back(action->text().toStdString());
            menu->close();
        }
    });
    QTest::keyClick(view, Qt::Key_F10, Qt::ShiftModifier);
    EXPECT_EQ(offered, (std::vector<std::string>{"Always Keep on This Computer", "Show in Folder"}));
}

// Space on a row's tick box unticks it where it is, and the cursor stays on it, so the
// next key acts on the same row.
TEST(PreviewKeyboardTest, UntickingARowKeepsItsPlaceAndTheCursor) {
    test::FakePreviewHost host;
    host.start(PreviewKind::firstAutomatic).apply(found(), 100 * GB);
    PreviewWindow window(host);
    ASSERT_TRUE(test::activateForKeys(window));
    QCoreApplication::processEvents();
    QTableView* view = window.content()->findChild<QTableView*>();
    ASSERT_NE(view, nullptr);
    auto* table = qobject_cast<PreviewTable*>(view->model());
    ASSERT_NE(table, nullptr);
    auto order = [&] {
        std::vector<std::string> paths;
        for (const PreviewRow& row : table->rows()) paths.push_back(row.candidate.path);
        return paths;
    };
    // Two of the three fill the goal; unticking the first brings the third in below.
    const std::vector<std::string> before = order();
    ASSERT_EQ(before.size(), 2u);
    view->setFocus();
    view->setCurrentIndex(table->index(0, PreviewTable::toggleColumn));
    QTest::keyClick(view, Qt::Key_Space);
    QCoreApplication::processEvents();
    EXPECT_FALSE(table->rowAt(0).included);
    EXPECT_EQ(order(), (std::vector<std::string>{before[0], before[1], "/home/u/Downloads/c.tar"}));
    EXPECT_EQ(view->currentIndex(), table->index(0, PreviewTable::toggleColumn));
    QTest::keyClick(view, Qt::Key_Space);
    QCoreApplication::processEvents();
    EXPECT_TRUE(table->rowAt(0).included);
    EXPECT_EQ(order(), before);
    EXPECT_EQ(view->currentIndex(), table->index(0, PreviewTable::toggleColumn));
}

TEST(PreviewKeyboardTest, ReturnClosesAPreviewWithNothingToMove) {
    test::FakePreviewHost host;
    host.start().apply(ScanReport{}, 100 * GB);
    QPointer<PreviewWindow> window = new PreviewWindow(host);
    ASSERT_TRUE(test::activateForKeys(*window));
    QCoreApplication::processEvents();
    EXPECT_EQ(QApplication::focusWidget(), window->content()->closeButton());
    EXPECT_EQ(test::keyboardOrderProblem(*window), "");
    window->content()->closeButton()->setFocus();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    EXPECT_TRUE(QTest::qWaitFor([&] { return window.isNull(); }, 2000));
    EXPECT_EQ(host.calls, std::vector<std::string>{"closed"});
}

TEST(PreviewKeyboardTest, AccessibleNamesAndDescriptionsArePlainText) {
    test::FakePreviewHost host;
    host.start(PreviewKind::firstAutomatic).apply(found(), 100 * GB);
    host.model.activity = Activity::restoring;  // the run button says why it waits
    PreviewWindow window(host);
    window.show();
    QCoreApplication::processEvents();
    EXPECT_EQ(test::accessibleMarkup(window), std::vector<std::string>{});
}

}  // namespace
}  // namespace keldwick
