#include <QAccessible>
#include <algorithm>
#include <QAccessibleActionInterface>
#include <QApplication>
#include <QCheckBox>
#include <QPointer>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

#include "desktop/DesktopMotion.h"
#include "desktop/FakePortal.h"
#include "desktop/Pictures.h"
#include "desktop/PortalSettings.h"
#include "desktop/PrivateBus.h"
#include "tray/PanelRows.h"
#include "tray/TrayIcon.h"
#include "tray/TrayPanel.h"
#include "model/ModelStateFixtures.h"
#include "support/KeyboardWalk.h"
#include "ui/TabularDigits.h"
#include "ui/WindowRegistry.h"

namespace keldwick {
namespace {

class TrayTest : public ::testing::Test {
protected:
    TrayTest() {
        for (auto window : {std::optional<AppWindow>(AppWindow::preview), std::optional<AppWindow>()}) {
            windows_.add(window, {QString(), QSize(200, 100), [] { return new QWidget; }});
        }
        QObject::connect(&windows_, &WindowRegistry::opened, [this](const QString& id) { opened_.push_back(id); });
        QObject::connect(&windows_, &WindowRegistry::missing,
                         [this](const QString& id) { opened_.push_back("missing " + id); });
    }
    ~TrayTest() override {
        for (auto window : {std::optional<AppWindow>(AppWindow::preview), std::optional<AppWindow>()}) {
            delete windows_.window(window);
        }
    }

    TrayIcon::Model model() {
        return {[this]() -> const ModelState& { return state_; },
                [this] {
                    ++clears_;
                    state_.windowRequests.clear();
                    tray_->openRequestedWindows();  // the model notifies again
                }};
    }

    void make() {
        tray_ = std::make_unique<TrayIcon>(model(), windows_, [] { return new TrayPanel; });
    }

    ModelState state_ = test::readyState();
    WindowRegistry windows_;
    std::unique_ptr<TrayIcon> tray_;
    std::vector<QString> opened_;
    int clears_ = 0;
};

TEST_F(TrayTest, RequestedWindowsOpenOnceInOrderAndUnbuiltOnesAreLogged) {
    make();
    tray_->openRequestedWindows();  // nothing queued: nothing happens
    EXPECT_EQ(clears_, 0);

    state_.windowRequests = {WindowRequest::make(AppWindow::preview), WindowRequest::make(std::nullopt),
                             WindowRequest::make(AppWindow::systemData), WindowRequest::make(AppWindow::preview)};
    tray_->openRequestedWindows();
    EXPECT_EQ(opened_, (std::vector<QString>{"preview", "settings", "missing systemData", "preview"}));
    EXPECT_EQ(clears_, 1);
    EXPECT_TRUE(state_.windowRequests.empty());
}

TEST_F(TrayTest, DropsPourWhileFilesMoveAndStandStillForLessMotion) {
    make();
    EXPECT_TRUE(tray_->show(true));
    EXPECT_EQ(tray_->shownGlyph().mark, TrayGlyph::Mark::none());
    EXPECT_FALSE(tray_->isAnimating());

    state_.activity = Activity::moving;
    tray_->refresh();
    EXPECT_TRUE(tray_->isAnimating());
    ASSERT_TRUE(QTest::qWaitFor([&] { return tray_->dripFrame() == 2; }, 3000));
    EXPECT_EQ(tray_->shownGlyph().mark, TrayGlyph::Mark::pouring(2));

    tray_->setReduceMotion(true);
    EXPECT_FALSE(tray_->isAnimating());
    EXPECT_EQ(tray_->shownGlyph().mark, TrayGlyph::Mark::pouring(0));
    QTest::qWait(TrayIcon::dripIntervalMs * 2);
    EXPECT_EQ(tray_->shownGlyph().mark, TrayGlyph::Mark::pouring(0));

    // The move ends: the model's own mark at once, and the frame is kept for next time.
    tray_->setReduceMotion(false);
    state_.activity = Activity::idle;
    state_.driveRoot.reset();
    state_.records = {test::record("/home/u/Downloads/a.iso", Phase::offloaded)};
    tray_->refresh();
    EXPECT_FALSE(tray_->isAnimating());
    EXPECT_EQ(tray_->shownGlyph().mark, TrayGlyph::Mark::driveAway());
    EXPECT_EQ(tray_->dripFrame(), 2);
}

TEST_F(TrayTest, WithoutATrayThePanelIsAWindow) {
    make();
    QSignalSpy shown(tray_.get(), &TrayIcon::panelShown);
    EXPECT_FALSE(tray_->show(false));
    EXPECT_EQ(tray_->panel(), nullptr);
    tray_->showPanel();
    ASSERT_NE(tray_->panel(), nullptr);
    EXPECT_TRUE(tray_->panel()->isVisible());
    EXPECT_EQ(tray_->panel()->windowFlags() & Qt::WindowType_Mask, Qt::Window);
    EXPECT_EQ(tray_->panel()->windowTitle(), "Keldwick");
    // Showing again (a second launch) brings the same panel forward.
    QWidget* first = tray_->panel();
    tray_->togglePanel();
    EXPECT_EQ(tray_->panel(), first);
    EXPECT_TRUE(first->isVisible());
    EXPECT_EQ(shown.count(), 2);
}

TEST_F(TrayTest, WithoutATrayThePanelWindowStaysInsideTheScreensFreeAreaAndItsRowsFitTheirText) {
    // A large font makes the rows taller than the screen: at the usual size the panel is
    // about 460 pixels high.
    const QFont before = QApplication::font();
    QFont large = before;
    const int screenHeight = QGuiApplication::primaryScreen()->availableGeometry().height();
    large.setPointSizeF(before.pointSizeF() * std::max(2.0, 3.0 * screenHeight / 460.0));
    QApplication::setFont(large);
    state_.records = {test::record("/home/u/Downloads/a.iso", Phase::offloaded, false, 6'000'000'000),
                      test::record("/home/u/Documents/b.pdf", Phase::linkMissing)};
    state_.lastRun = "Moved 1 item (6 GB) to " + std::string(test::longDriveName) + ".";
    state_.lastRunDate = Date{1'800'000'000 - 3600};
    state_.settings.drive->name = test::longDriveName;
    make();
    QObject::connect(tray_.get(), &TrayIcon::panelShown, [this] {
        qobject_cast<TrayPanel*>(tray_->panel())->show(panel(state_, std::nullopt, Date{1'800'000'000}, "en_US"));
    });
    tray_->show(false);
    tray_->showPanel();
    QCoreApplication::processEvents();
    auto* shown = qobject_cast<TrayPanel*>(tray_->panel());
    ASSERT_NE(shown, nullptr);
    const QRect area = shown->screen()->availableGeometry();
    EXPECT_TRUE(area.contains(shown->frameGeometry()))
        << "area " << area.height() << " px high, panel from " << shown->frameGeometry().top() << " to "
        << shown->frameGeometry().bottom();
    // What doesn't fit scrolls.
    EXPECT_LT(shown->height(), shown->sizeHint().height());
    EXPECT_GT(shown->scrollArea()->verticalScrollBar()->maximum(), 0);
    for (const MenuActionRow* row : shown->findChildren<MenuActionRow*>()) {
        EXPECT_GE(row->height(), row->fontMetrics().height()) << row->text().toStdString();
    }
    const QStringList cut = test::cutTexts(shown);
    EXPECT_TRUE(cut.isEmpty()) << cut.join("; ").toStdString();
    QApplication::setFont(before);
}

// A label-and-value row reads as one element carrying both texts, and its value's digits
// are of one width, so a value changing in place keeps its length.
TEST(PanelRowsTest, ALabelAndValueRowIsOneElementWithEqualWidthDigits) {
    PanelRow row;
    row.kind = PanelRow::Kind::info;
    row.title = "Last run";
    row.value = "Yesterday";
    MenuInfoRow info(row);
    EXPECT_EQ(info.accessibleName(), "Last run, Yesterday");
    EXPECT_TRUE(info.findChildren<QWidget*>().isEmpty());
    row.value = "1,234 files";
    info.setRow(row);
    EXPECT_EQ(info.accessibleName(), "Last run, 1,234 files");
    const QFont font = info.font();
    for (const char* digits : {"111", "888", "1.23 MB"}) {
        SCOPED_TRACE(digits);
        const QString text = QString::fromLatin1(digits);
        QString zeros = text;
        for (QChar& c : zeros) {
            if (c.isDigit()) c = QLatin1Char('0');
        }
        EXPECT_DOUBLE_EQ(TabularDigits::width(font, text), TabularDigits::width(font, zeros));
    }
}

// A screen reader meets the status as one static text named by its headline and detail,
// never its symbol; a command row says its trailing text and, as its description, its
// shortcut.
TEST(TrayPanelTest, TheStatusIsOneElementAndRowsSayTheirTrailingTextAndShortcut) {
    ModelState state = test::readyState();
    state.activity = Activity::moving;
    state.records = {test::record("/home/u/a.iso", Phase::linkMissing)};
    TrayPanel widget;
    const PanelContents contents = panel(state, std::nullopt, Date{0});
    widget.show(contents);
    widget.QWidget::show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&widget));
    const auto statusRow = std::find_if(contents.rows.begin(), contents.rows.end(),
                                        [](const PanelRow& r) { return r.kind == PanelRow::Kind::status; });
    ASSERT_NE(statusRow, contents.rows.end());
    auto* block = widget.findChild<StatusBlock*>();
    ASSERT_NE(block, nullptr);
    EXPECT_TRUE(block->findChildren<QWidget*>().isEmpty());
    QAccessibleInterface* face = QAccessible::queryAccessibleInterface(block);
    ASSERT_NE(face, nullptr);
    EXPECT_EQ(face->role(), QAccessible::StaticText);
    EXPECT_EQ(face->childCount(), 0);
    const std::string expected =
        statusRow->title + (statusRow->detail && !statusRow->detail->empty() ? ", " + *statusRow->detail : "");
    EXPECT_EQ(face->text(QAccessible::Name).toStdString(), expected);
    // Its wrapped lines are all shown.
    EXPECT_GE(block->height(), block->heightForWidth(block->width()));

    const auto row = [&](const QString& title) -> MenuActionRow* {
        for (auto* r : widget.findChildren<MenuActionRow*>())
            if (r->text() == title) return r;
        return nullptr;
    };
    MenuActionRow* files = row(QStringLiteral("Show Files on Archive\u2026"));
    MenuActionRow* quit = row(QStringLiteral("Quit Keldwick"));
    ASSERT_TRUE(files && quit);
    EXPECT_EQ(QAccessible::queryAccessibleInterface(files)->text(QAccessible::Name),
              QStringLiteral("Show Files on Archive\u2026, 1 need attention"));
    EXPECT_EQ(QAccessible::queryAccessibleInterface(files)->text(QAccessible::Description), QString());
    EXPECT_EQ(QAccessible::queryAccessibleInterface(quit)->text(QAccessible::Name), QStringLiteral("Quit Keldwick"));
    EXPECT_EQ(QAccessible::queryAccessibleInterface(quit)->text(QAccessible::Description), QStringLiteral("Ctrl+Q"));
}

TEST_F(TrayTest, UnderTheIconThePanelClosesWhenAnotherWindowTakesTheFocus) {
    make();
    tray_->show(true);
    tray_->togglePanel();
    QPointer<QWidget> panel = tray_->panel();
    ASSERT_NE(panel, nullptr);
    // A window of its own, so the accessibility bus lists it and its rows.
    EXPECT_EQ(panel->windowFlags() & Qt::WindowType_Mask, Qt::Tool);
    EXPECT_EQ(panel->windowTitle(), "Keldwick");
    ASSERT_TRUE(QTest::qWaitForWindowActive(panel));

    QWidget other;
    other.show();
    other.activateWindow();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !panel; }));
    // The click on the icon that took the focus away closed it; it doesn't open it again.
    tray_->togglePanel();
    EXPECT_EQ(tray_->panel(), nullptr);
    QTest::qWait(TrayIcon::clickAwayMs + 50);
    tray_->togglePanel();
    ASSERT_NE(tray_->panel(), nullptr);
    EXPECT_TRUE(tray_->panel()->isVisible());
}

// A panel shown over `state`, recording the commands its rows run.
struct ShownPanel {
    TrayPanel widget;
    std::vector<PanelCommand> ran;
    explicit ShownPanel(const ModelState& state) {
        widget.onCommand = [this](PanelCommand c) { ran.push_back(c); };
        widget.show(panel(state, std::nullopt, Date{0}));
        widget.QWidget::show();
    }
    // The shown command row titled `title`; null when there is none.
    MenuActionRow* row(const QString& title) const {
        for (auto* r : widget.findChildren<MenuActionRow*>()) {
            if (r->isVisible() && r->text() == title) return r;
        }
        return nullptr;
    }
};

TEST(TrayPanelTest, RowsRunTheirCommandsAndShortcutsOnlyWhenEnabled) {
    ModelState state = test::readyState();
    state.canReadHome = false;  // Free Up Space disabled
    ShownPanel shown(state);
    TrayPanel& widget = shown.widget;
    const std::vector<PanelCommand>& ran = shown.ran;
    std::vector<bool> switched;
    widget.onSwitch = [&](bool on) { switched.push_back(on); };
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&widget));
    auto row = [&](const QString& title) { return shown.row(title); };
    MenuActionRow* freeUp = row(QStringLiteral("Free Up Space\u2026"));
    MenuActionRow* quit = row(QStringLiteral("Quit Keldwick"));
    ASSERT_TRUE(freeUp && quit);
    EXPECT_FALSE(freeUp->isEnabled());
    QTest::mouseClick(freeUp, Qt::LeftButton);
    EXPECT_TRUE(ran.empty());
    EXPECT_EQ(quit->shortcutHint(), "Ctrl+Q");

    QTest::mouseClick(row(QStringLiteral("Give Keldwick Permission\u2026")), Qt::LeftButton);
    QTest::keyClick(&widget, Qt::Key_Q, Qt::ControlModifier);
    QTest::keyClick(&widget, Qt::Key_Comma, Qt::ControlModifier);
    EXPECT_EQ(ran, (std::vector<PanelCommand>{PanelCommand::givePermission, PanelCommand::quit,
                                              PanelCommand::settings}));

    ASSERT_NE(widget.automaticSwitch(), nullptr);
    EXPECT_TRUE(widget.automaticSwitch()->isChecked());
    widget.automaticSwitch()->click();
    EXPECT_EQ(switched, std::vector<bool>{false});

    QTest::keyClick(&widget, Qt::Key_Escape);
    EXPECT_FALSE(widget.isVisible());
}

// A screen reader's press clicks a moment later (the button shows itself pressed first):
// a panel rebuilt in between, as when a check ends, must still run what was pressed.
TEST(TrayPanelTest, AnAccessiblePressSurvivesThePanelBeingRebuilt) {
    ShownPanel shown(test::readyState());
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&shown.widget));
    MenuActionRow* quit = shown.row(QStringLiteral("Quit Keldwick"));
    ASSERT_NE(quit, nullptr);
    QAccessibleInterface* face = QAccessible::queryAccessibleInterface(quit);
    ASSERT_TRUE(face && face->actionInterface());
    face->actionInterface()->doAction(QAccessibleActionInterface::pressAction());

    ModelState reshaped = test::readyState();
    reshaped.canReadHome = false;  // adds a row
    shown.widget.show(panel(reshaped, std::nullopt, Date{0}));
    QTest::qWait(300);
    EXPECT_EQ(shown.ran, std::vector<PanelCommand>{PanelCommand::quit});

    // A row held down by the pointer when the panel is rebuilt is no click.
    shown.ran.clear();
    QTest::mousePress(shown.row(QStringLiteral("Quit Keldwick")), Qt::LeftButton);
    shown.widget.show(panel(test::readyState(), std::nullopt, Date{0}));
    QTest::qWait(300);
    EXPECT_TRUE(shown.ran.empty());
}

TEST(TrayPanelTest, TabWalksTheSwitchAndTheRowsAndReturnChoosesOne) {
    ShownPanel shown(test::readyState());
    TrayPanel& widget = shown.widget;
    const std::vector<PanelCommand>& ran = shown.ran;
    widget.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&widget));

    // The order a keyboard user meets them, each by the name a screen reader says.
    widget.automaticSwitch()->setFocus();
    QStringList reached;
    for (int i = 0; i < 7; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        reached << QApplication::focusWidget()->accessibleName();
    }
    EXPECT_EQ(reached, (QStringList{"Free Up Space\u2026", "Move Files to Archive\u2026", "System Data\u2026",
                                    "Show Files on Archive\u2026", "Keldwick Settings\u2026", "Quit Keldwick",
                                    "Move files automatically"}));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    auto* focused = qobject_cast<MenuActionRow*>(QApplication::focusWidget());
    ASSERT_NE(focused, nullptr);
    EXPECT_TRUE(focused->isHighlighted());  // drawn as under the pointer
    QTest::keyClick(focused, Qt::Key_Tab);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Enter, Qt::KeypadModifier);
    EXPECT_EQ(ran, (std::vector<PanelCommand>{PanelCommand::systemData, PanelCommand::systemData}));

    QTest::keyClick(QApplication::focusWidget(), Qt::Key_W, Qt::ControlModifier);
    EXPECT_FALSE(widget.isVisible());
}

// Long names are shortened on the rows and read whole in their tooltips; a screen reader
// gets the words without the tooltips' markup.
TEST(TrayPanelTest, EveryRowIsReachedAndReadAsPlainText) {
    ModelState state = test::readyState();
    state.settings.drive->name = "A drive with a name far too long for any row of the panel to show";
    state.activity = Activity::moving;
    state.records = {test::record("/home/u/Downloads/a.iso", Phase::offloaded)};
    TrayPanel widget;
    widget.resize(320, 600);
    widget.show(panel(state, std::nullopt, Date{0}));
    widget.QWidget::show();
    widget.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&widget));
    QCoreApplication::processEvents();
    EXPECT_EQ(test::keyboardOrderProblem(widget), "");
    EXPECT_EQ(test::accessibleMarkup(widget), std::vector<std::string>{});
}

TEST_F(TrayTest, TheDesktopsReduceMotionStopsAndRestartsTheDropsWhileFilesMove) {
    test::PrivateBus bus;
    if (bus.skipReason()) GTEST_SKIP() << *bus.skipReason();
    const QString space = QString::fromLatin1(gnomeInterfaceNamespace), key = QString::fromLatin1(gnomeAnimationsKey);
    test::FakePortal fake(bus.connect());
    fake.set(space, key, true);
    PortalSettings portal(bus.connect());
    DesktopMotion motion(portal);
    make();
    tray_->show(true);
    tray_->followMotion(motion);
    state_.activity = Activity::moving;
    tray_->refresh();
    ASSERT_TRUE(QTest::qWaitFor([&] { return tray_->dripFrame() == 1; }, 3000));

    fake.change(space, key, false);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !tray_->isAnimating(); }, 5000));
    EXPECT_EQ(tray_->shownGlyph().mark, TrayGlyph::Mark::pouring(0));

    fake.change(space, key, true);
    ASSERT_TRUE(QTest::qWaitFor([&] { return tray_->isAnimating(); }, 5000));
    const int frame = tray_->dripFrame();
    ASSERT_TRUE(QTest::qWaitFor([&] { return tray_->dripFrame() != frame; }, 3000));
}

}  // namespace
}  // namespace keldwick
