#include <QCheckBox>
#include <QCoreApplication>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableView>
#include <QTest>
#include <QToolButton>
#include <QTreeWidget>
#include <gtest/gtest.h>

#include "model/PreviewModel.h"
#include "preview/FakePreviewHost.h"
#include "preview/PreviewContent.h"
#include "preview/PreviewTable.h"
#include "preview/PreviewWindow.h"
#include "ui/EmptyStateView.h"

namespace keldwick {
namespace {

constexpr int64_t GB = 1'000'000'000;

Candidate item(const std::string& path, int64_t size, double score) {
    return Candidate(path, false, size, 1, Date{1'700'000'000}, LastUsedSource::modificationDate, score);
}

ScanReport found() {
    ScanReport r;
    r.candidates = {item("/home/u/Downloads/a.iso", 3 * GB, 3), item("/home/u/Downloads/b.zip", 2 * GB, 2),
                    item("/home/u/Downloads/c.tar", 1 * GB, 1)};
    r.skipped = {{"/home/u/Downloads/open.log", "In use"}};
    r.skippedCount = 1;
    return r;
}

void settle() { QCoreApplication::processEvents(); }

QPushButton* button(EmptyStateView* view, const QString& text) {
    for (auto* b : view->findChildren<QPushButton*>()) {
        if (b->text() == text) return b;
    }
    return nullptr;
}

TEST(PreviewWindowTest, WithoutAPreviewTheButtonOpensOneAndTheWindowStays) {
    test::FakePreviewHost host;
    auto* window = new PreviewWindow(host);
    window->show();
    ASSERT_TRUE(window->emptyState());
    EXPECT_EQ(window->emptyState()->titleLabel()->text(), QStringLiteral("Nothing to review"));
    QPushButton* free = button(window->emptyState(), QStringLiteral("Free Up Space\u2026"));
    ASSERT_TRUE(free);
    free->click();
    settle();
    EXPECT_EQ(host.calls, std::vector<std::string>{"openPreview"});
    EXPECT_TRUE(window->isVisible());
    ASSERT_TRUE(window->content());
    EXPECT_EQ(window->content()->preview(), host.preview());
    EXPECT_FALSE(window->emptyState());
    // Scanning: "Not Now" and a run button that waits for the scan.
    EXPECT_TRUE(window->content()->notNowButton()->isVisibleTo(window));
    EXPECT_FALSE(window->content()->runButton()->isEnabled());
    window->close();
    settle();

    // Without the drive there is nothing to offer.
    host.open.reset();
    host.model.driveRoot.reset();
    auto* unplugged = new PreviewWindow(host);
    ASSERT_TRUE(unplugged->emptyState());
    EXPECT_EQ(unplugged->emptyState()->titleLabel()->text(), QStringLiteral("Plug in Archive"));
    EXPECT_TRUE(unplugged->emptyState()->findChildren<QPushButton*>().isEmpty());
    // Plugging it in redraws the offer.
    host.model.driveRoot = "/media/u/Archive";
    emit host.stateChanged();
    settle();
    EXPECT_EQ(unplugged->emptyState()->titleLabel()->text(), QStringLiteral("Nothing to review"));
    delete unplugged;
}

TEST(PreviewWindowTest, ApprovingReachesTheModelBeforeTheWindowCloses) {
    struct Case {
        const char* name;
        PreviewKind kind;
        bool keepAsking;
        bool approvesAutomaticRuns;
    };
    const Case cases[] = {{"first automatic run", PreviewKind::firstAutomatic, false, true},
                          {"first automatic run, ask every time", PreviewKind::firstAutomatic, true, false},
                          {"the user's own", PreviewKind::manual, false, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        test::FakePreviewHost host;
        host.start(c.kind).apply(found(), 100 * GB);
        QPointer<PreviewWindow> window = new PreviewWindow(host);
        window->show();
        PreviewContent* content = window->content();
        ASSERT_TRUE(content);
        EXPECT_EQ(content->approvalSwitch()->isVisibleTo(window), c.kind == PreviewKind::firstAutomatic);
        if (c.keepAsking) content->approvalSwitch()->click();
        EXPECT_EQ(host.preview()->keepAsking(), c.keepAsking);
        ASSERT_TRUE(content->runButton()->isEnabled());
        EXPECT_EQ(content->runButton()->text(), QStringLiteral("Move Files to Archive"));
        content->runButton()->click();
        settle();
        // Approved first, then closed: the close finds no open preview, so nothing is
        // recorded as declined, whatever the switch said.
        EXPECT_EQ(host.calls, (std::vector<std::string>{"approve", "closed"}));
        EXPECT_FALSE(host.declined);
        EXPECT_EQ(host.approvedAutomaticRuns, c.approvesAutomaticRuns);
        EXPECT_TRUE(window.isNull());  // closed and deleted
    }
}

TEST(PreviewWindowTest, NotNowAndEscapeCloseAndAFirstRunIsDeclined) {
    for (bool escape : {false, true}) {
        SCOPED_TRACE(escape);
        test::FakePreviewHost host;
        host.start(PreviewKind::firstAutomatic).apply(found(), 100 * GB);
        QPointer<PreviewWindow> window = new PreviewWindow(host);
        window->show();
        if (escape) {
            QTest::keyClick(window, Qt::Key_Escape);
        } else {
            window->content()->notNowButton()->click();
        }
        settle();
        EXPECT_EQ(host.calls, std::vector<std::string>{"closed"});
        EXPECT_TRUE(host.declined);
        EXPECT_FALSE(host.preview());
        EXPECT_TRUE(window.isNull());
    }
}

TEST(PreviewWindowTest, TestModeScanningAndTheFollowingOfANewerPreview) {
    test::FakePreviewHost host;
    PreviewModel& first = host.start(PreviewKind::manual, true);
    PreviewWindow window(host);
    PreviewContent* content = window.content();
    EXPECT_TRUE(content->testBanner()->isVisibleTo(&window));
    EXPECT_EQ(content->subtitleLabel()->text(), QStringLiteral("Looking for files you haven't used in a while\u2026"));
    EXPECT_EQ(content->runButton()->text(), QStringLiteral("Test Run"));
    EXPECT_FALSE(content->runButton()->isEnabled());

    first.apply(found(), 100 * GB);
    settle();
    EXPECT_EQ(content->table()->rowCount(), 2);
    EXPECT_TRUE(content->runButton()->isEnabled());
    EXPECT_TRUE(content->skippedToggle()->isVisibleTo(&window));
    EXPECT_EQ(content->skippedToggle()->text(), QStringLiteral("1 item was left alone"));
    ASSERT_EQ(content->skippedList()->topLevelItemCount(), 1);
    EXPECT_EQ(content->skippedList()->topLevelItem(0)->text(2), QStringLiteral("In use"));

    // Busy elsewhere: the button waits and says why.
    host.model.activity = Activity::restoring;
    emit host.stateChanged();
    settle();
    EXPECT_FALSE(content->runButton()->isEnabled());
    EXPECT_TRUE(content->runButton()->toolTip().contains(QStringLiteral("Keldwick is busy")));

    // A newer preview replaces the shown one.
    host.model.activity = Activity::idle;
    PreviewModel& second = host.start();
    settle();
    ASSERT_TRUE(window.content());
    EXPECT_EQ(window.content()->preview(), &second);
    EXPECT_FALSE(window.content()->testBanner()->isVisibleTo(&window));
}

TEST(PreviewWindowTest, EmptyBodiesAndTheirButtons) {
    test::FakePreviewHost host;
    host.start().apply(ScanReport{}, 100 * GB);
    PreviewWindow window(host);
    PreviewContent* content = window.content();
    ASSERT_TRUE(content->emptyState());
    EXPECT_EQ(content->emptyState()->titleLabel()->text(), QStringLiteral("Nothing to move right now"));
    EXPECT_TRUE(content->closeButton()->isVisibleTo(&window));
    EXPECT_TRUE(content->closeButton()->isDefault());
    EXPECT_FALSE(content->runButton()->isVisibleTo(&window));
    button(content->emptyState(), QStringLiteral("Choose Files to Move\u2026"))->click();
    button(content->emptyState(), QStringLiteral("System Data\u2026"))->click();
    EXPECT_EQ(host.calls, (std::vector<std::string>{"choose", "window systemData"}));

    test::FakePreviewHost full;
    full.start().apply(found(), 0);
    PreviewWindow fullWindow(full);
    EmptyStateView* empty = fullWindow.content()->emptyState();
    EXPECT_EQ(empty->titleLabel()->text(), QStringLiteral("Archive is full"));
    button(empty, QStringLiteral("Show Files on Your Drive"))->click();
    EXPECT_EQ(full.calls, (std::vector<std::string>{"window offloaded"}));
}

// The plan's order is what a run would do: a click on any column's title leaves it.
TEST(PreviewWindowTest, ClickingAColumnTitleLeavesThePlansOrder) {
    test::FakePreviewHost host;
    PreviewModel& preview = host.start();
    preview.apply(found(), 100 * GB);
    preview.toggle("/home/u/Downloads/a.iso");  // below the planned rows, though first by name
    PreviewWindow window(host);
    window.show();
    PreviewContent* content = window.content();
    const auto order = [&] {
        std::vector<std::string> paths;
        for (int row = 0; row < content->table()->rowCount(); ++row)
            paths.push_back(content->table()->rowAt(row).candidate.path);
        return paths;
    };
    const std::vector<std::string> plan = order();
    ASSERT_EQ(plan.size(), 3u);
    EXPECT_EQ(plan.back(), "/home/u/Downloads/a.iso");
    QHeaderView* header = content->tableView()->horizontalHeader();
    for (int column : {PreviewTable::sizeColumn, PreviewTable::nameColumn, PreviewTable::lastUsedColumn,
                       PreviewTable::sizeColumn}) {
        SCOPED_TRACE(column);
        const QPoint middle(header->sectionViewportPosition(column) + header->sectionSize(column) / 2,
                            header->height() / 2);
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, middle);
        settle();
        EXPECT_EQ(order(), plan);
        EXPECT_FALSE(header->isSortIndicatorShown());
    }
}

TEST(PreviewWindowTest, KeepingOnThisComputerPinsAndExcludesWithoutAScan) {
    test::FakePreviewHost host;
    PreviewModel& preview = host.start();
    preview.apply(found(), 100 * GB);
    PreviewWindow window(host);
    PreviewContent* content = window.content();
    content->tableView()->selectRow(0);
    QTest::keyClick(content->tableView(), Qt::Key_Down, Qt::ShiftModifier);
    // A row in the selection stands for the whole selection; another one for itself.
    EXPECT_EQ(content->menuPaths(1), (std::vector<std::string>{"/home/u/Downloads/a.iso", "/home/u/Downloads/b.zip"}));
    preview.toggle("/home/u/Downloads/b.zip");
    settle();
    // Rows a, b excluded in its place, then c come in below; the selection stayed.
    EXPECT_EQ(content->menuPaths(1), (std::vector<std::string>{"/home/u/Downloads/a.iso", "/home/u/Downloads/b.zip"}));
    EXPECT_EQ(content->menuPaths(2), std::vector<std::string>{"/home/u/Downloads/c.tar"});
    EXPECT_TRUE(content->menuPaths(-1).empty());

    content->keepOnThisComputer({"/home/u/Downloads/a.iso", "/home/u/Downloads/b.zip"});
    settle();
    EXPECT_EQ(host.pinned, (std::vector<std::vector<std::string>>{{"/home/u/Downloads/a.iso", "/home/u/Downloads/b.zip"}}));
    // b stays excluded (it was already), a joins it.
    EXPECT_EQ(preview.excluded(), (std::set<std::string>{"/home/u/Downloads/a.iso", "/home/u/Downloads/b.zip"}));
    EXPECT_TRUE(preview.report().has_value());
    EXPECT_EQ(content->table()->rowAt(0).candidate.path, "/home/u/Downloads/a.iso");
    EXPECT_FALSE(content->table()->rowAt(0).included);
    EXPECT_EQ(content->table()->rowAt(2).candidate.path, "/home/u/Downloads/c.tar");
}

}  // namespace
}  // namespace keldwick
