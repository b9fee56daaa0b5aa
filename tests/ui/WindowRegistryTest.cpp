#include "ui/WindowRegistry.h"

#include <QDialog>
#include <QLineEdit>
#include <QMainWindow>
#include <QPointer>
#include <QSignalSpy>
#include <QTest>
#include <QWidget>
#include <gtest/gtest.h>

namespace keldwick {
namespace {

TEST(WindowRegistryTest, PlacementCentresAndFitsTheScreen) {
    struct Case {
        QRect available;
        QSize wanted;
        QRect expected;
    };
    const Case cases[] = {
        {{0, 0, 1280, 800}, {820, 620}, {230, 90, 820, 620}},
        {{0, 28, 1280, 772}, {600, 520}, {340, 154, 600, 520}},    // below a top panel
        {{1280, 0, 1024, 768}, {900, 560}, {1342, 104, 900, 560}}, // a second screen
        {{0, 0, 800, 600}, {900, 560}, {0, 20, 800, 560}},         // wider than the screen
    };
    for (const Case& c : cases) {
        EXPECT_EQ(placement(c.available, c.wanted), c.expected);
    }
}

TEST(WindowRegistryTest, OneInstancePerWindowAndMissingOnesAreReported) {
    WindowRegistry registry;
    int made = 0;
    registry.add(AppWindow::systemData, {QStringLiteral("System Data"), QSize(600, 520), [&] {
                                             ++made;
                                             return new QWidget;
                                         }});
    registry.add(std::nullopt, {QStringLiteral("Settings"), QSize(), [] {
                                    auto* settings = new QWidget;
                                    settings->resize(300, 200);
                                    return settings;
                                }});
    QSignalSpy missing(&registry, &WindowRegistry::missing);
    QSignalSpy opened(&registry, &WindowRegistry::opened);

    ASSERT_TRUE(registry.open(AppWindow::systemData));
    QPointer<QWidget> first = registry.window(AppWindow::systemData);
    ASSERT_TRUE(first);
    EXPECT_EQ(first->windowTitle(), "System Data");
    EXPECT_EQ(first->size(), QSize(600, 520));
    EXPECT_TRUE(first->isVisible());
    EXPECT_EQ(first->objectName(), "systemData");

    // Again: the same window comes forward, no second one is made.
    first->hide();
    ASSERT_TRUE(registry.open(AppWindow::systemData));
    EXPECT_EQ(made, 1);
    EXPECT_EQ(registry.window(AppWindow::systemData), first.data());
    EXPECT_TRUE(first->isVisible());

    // Closing ends the instance; the next opening starts afresh.
    first->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(first.isNull());
    EXPECT_EQ(registry.window(AppWindow::systemData), nullptr);
    ASSERT_TRUE(registry.open(AppWindow::systemData));
    EXPECT_EQ(made, 2);

    ASSERT_TRUE(registry.open(std::nullopt));
    EXPECT_EQ(registry.window(std::nullopt)->objectName(), "settings");

    // Nobody registered the preview yet: reported, not silently dropped.
    EXPECT_FALSE(registry.has(AppWindow::preview));
    EXPECT_FALSE(registry.open(AppWindow::preview));
    ASSERT_EQ(missing.count(), 1);
    EXPECT_EQ(missing.at(0).at(0).toString(), "preview");
    EXPECT_EQ(opened.count(), 4);

    delete registry.window(AppWindow::systemData);
    delete registry.window(std::nullopt);
}

TEST(WindowRegistryTest, EveryWindowClosesOnEscapeAndCtrlWWhereverTheFocusIs) {
    struct Kind {
        const char* name;
        std::function<QWidget*()> make;
    };
    // A field with the focus, as a search field would have it.
    auto withField = [](QWidget* window, QWidget* holder) {
        auto* field = new QLineEdit(holder);
        field->setObjectName(QStringLiteral("field"));
        return window;
    };
    const Kind kinds[] = {
        {"a plain window", [&] { auto* w = new QWidget; return withField(w, w); }},
        {"a dialog", [&] { auto* d = new QDialog; return withField(d, d); }},
        {"a main window",
         [&] {
             auto* m = new QMainWindow;
             m->setCentralWidget(new QWidget);
             return withField(m, m->centralWidget());
         }},
    };
    const QKeyCombination keys[] = {QKeyCombination(Qt::Key_Escape), QKeyCombination(Qt::ControlModifier, Qt::Key_W)};
    for (const Kind& kind : kinds) {
        for (const QKeyCombination key : keys) {
            SCOPED_TRACE(std::string(kind.name) + ", " + QKeySequence(key).toString().toStdString());
            WindowRegistry registry;
            registry.add(AppWindow::systemData, {QStringLiteral("Window"), QSize(300, 200), kind.make});
            ASSERT_TRUE(registry.open(AppWindow::systemData));
            QPointer<QWidget> window = registry.window(AppWindow::systemData);
            auto* field = window->findChild<QLineEdit*>(QStringLiteral("field"));
            ASSERT_TRUE(QTest::qWaitForWindowActive(window));
            field->setFocus();
            QTest::keyClick(field, key.key(), key.keyboardModifiers());
            EXPECT_TRUE(QTest::qWaitFor([&] { return !window; })) << "still open";
        }
    }
}

}  // namespace
}  // namespace keldwick
