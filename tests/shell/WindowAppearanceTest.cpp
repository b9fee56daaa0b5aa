#include "shell/WindowAppearance.h"

#include <QApplication>
#include <QStyle>
#include <QStyleFactory>
#include <QWidget>
#include <QTest>
#include <gtest/gtest.h>

#include "desktop/FakePortal.h"
#include "desktop/PortalSettings.h"
#include "desktop/PrivateBus.h"

namespace keldwick {
namespace {

// The portal's colour scheme reaches every window at once, and going back to no
// preference gives the platform's own style and palette back.
TEST(WindowAppearanceTest, TheApplicationFollowsThePortalLive) {
    test::PrivateBus bus;
    if (bus.skipReason()) GTEST_SKIP() << *bus.skipReason();
    const QString space = QString::fromLatin1(appearanceNamespace);
    const QString key = QString::fromLatin1(colorSchemeKey);
    const QString platformStyle = QApplication::style()->name();
    const QPalette platformPalette = QApplication::palette();
    ASSERT_FALSE(isDarkPalette(platformPalette));  // the offscreen platform draws light
    {
        test::FakePortal fake(bus.connect());
        fake.set(space, key, 1u);
        PortalSettings portal(bus.connect());
        DesktopColorScheme scheme(portal);
        WindowAppearance appearance(scheme);
        QWidget window;
        ASSERT_TRUE(QTest::qWaitFor([&] { return appearance.look() == WindowLook::fusionDark; }, 10000));
        EXPECT_EQ(QApplication::style()->name(), QStringLiteral("fusion"));
        EXPECT_TRUE(isDarkPalette(QApplication::palette()));
        // A window already made takes it up as the change reaches it.
        EXPECT_TRUE(QTest::qWaitFor([&] { return isDarkPalette(window.palette()); }, 10000));

        fake.change(space, key, 2u);
        ASSERT_TRUE(QTest::qWaitFor([&] { return appearance.look() == WindowLook::platform; }, 10000));
        EXPECT_TRUE(QTest::qWaitFor([&] { return !isDarkPalette(window.palette()); }, 10000));

        fake.change(space, key, 1u);
        ASSERT_TRUE(QTest::qWaitFor([&] { return appearance.look() == WindowLook::fusionDark; }, 10000));
        fake.change(space, key, 0u);
        ASSERT_TRUE(QTest::qWaitFor([&] { return appearance.look() == WindowLook::platform; }, 10000));
        EXPECT_EQ(QApplication::style()->name(), platformStyle);
        EXPECT_EQ(QApplication::palette().color(QPalette::Window), platformPalette.color(QPalette::Window));
        EXPECT_EQ(QApplication::palette().color(QPalette::Text), platformPalette.color(QPalette::Text));
    }

    // A platform that is dark already keeps its own look when the desktop prefers dark,
    // and turns light when it prefers light.
    QApplication::setPalette(darkPalette());
    {
        test::FakePortal fake(bus.connect());
        fake.set(space, key, 1u);
        PortalSettings portal(bus.connect());
        DesktopColorScheme scheme(portal);
        WindowAppearance appearance(scheme);
        ASSERT_TRUE(QTest::qWaitFor([&] { return scheme.scheme() == ColorScheme::dark; }, 10000));
        EXPECT_EQ(appearance.look(), WindowLook::platform);
        fake.change(space, key, 2u);
        ASSERT_TRUE(QTest::qWaitFor([&] { return appearance.look() == WindowLook::fusionLight; }, 10000));
        EXPECT_FALSE(isDarkPalette(QApplication::palette()));
        appearance.follow(ColorScheme::noPreference);
        EXPECT_TRUE(isDarkPalette(QApplication::palette()));
    }
    QApplication::setStyle(QStyleFactory::create(platformStyle));
    QApplication::setPalette(platformPalette);
}

}  // namespace
}  // namespace keldwick
