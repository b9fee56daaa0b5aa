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
