#include "desktop/DesktopColorScheme.h"

#include <QColor>
#include <QPalette>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

#include "desktop/FakePortal.h"
#include "desktop/PortalSettings.h"
#include "desktop/PrivateBus.h"

namespace keldwick {
namespace {

const QString space = QString::fromLatin1(appearanceNamespace);
const QString key = QString::fromLatin1(colorSchemeKey);

TEST(DesktopColorSchemeTest, FollowsThePortalFromItsFirstAnswerOnAndIsUnknownWithoutOne) {
    test::PrivateBus bus;
    if (bus.skipReason()) GTEST_SKIP() << *bus.skipReason();
    {
        test::FakePortal fake(bus.connect());
        fake.set(space, key, 1u);
        PortalSettings portal(bus.connect());
        DesktopColorScheme scheme(portal);
        QSignalSpy changes(&scheme, &DesktopColorScheme::schemeChanged);
        EXPECT_EQ(scheme.scheme(), std::nullopt);  // unknown until the portal answers
        ASSERT_TRUE(QTest::qWaitFor([&] { return scheme.scheme() == ColorScheme::dark; }, 10000));

        fake.change(space, key, 2u);
        ASSERT_TRUE(QTest::qWaitFor([&] { return scheme.scheme() == ColorScheme::light; }, 10000));
        fake.change(space, key, 0u);
        ASSERT_TRUE(QTest::qWaitFor([&] { return scheme.scheme() == ColorScheme::noPreference; }, 10000));
        // Another setting of the same namespace changes nothing.
        fake.change(space, QStringLiteral("accent-color"), 1u);
        QTest::qWait(100);
        EXPECT_EQ(scheme.scheme(), ColorScheme::noPreference);
        EXPECT_EQ(changes.count(), 3);
    }
    {
        PortalSettings portal(bus.connect());  // nobody owns the portal's name
        DesktopColorScheme scheme(portal);
        QSignalSpy changes(&scheme, &DesktopColorScheme::schemeChanged);
        QTest::qWait(300);
        EXPECT_EQ(scheme.scheme(), std::nullopt);
        EXPECT_EQ(changes.count(), 0);
    }
}

TEST(DesktopColorSchemeTest, TheLookFollowsTheSchemeAndKeepsAMatchingPlatformPalette) {
    using L = WindowLook;
    struct Case {
        std::optional<ColorScheme> scheme;
        bool platformIsDark;
        WindowLook look;
    };
    const Case cases[] = {
        {ColorScheme::dark, false, L::fusionDark},        {ColorScheme::dark, true, L::platform},
        {ColorScheme::light, false, L::platform},         {ColorScheme::light, true, L::fusionLight},
        {ColorScheme::noPreference, false, L::platform},  {ColorScheme::noPreference, true, L::platform},
        {std::nullopt, false, L::platform},               {std::nullopt, true, L::platform},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(windowLookFor(c.scheme, c.platformIsDark), c.look)
            << (c.scheme ? int(*c.scheme) : -1) << " over a " << (c.platformIsDark ? "dark" : "light") << " platform";
    }
    EXPECT_TRUE(isDarkPalette(darkPalette()));
    QPalette light;
    light.setColor(QPalette::Window, QColor(0xef, 0xef, 0xef));
    light.setColor(QPalette::WindowText, Qt::black);
    EXPECT_FALSE(isDarkPalette(light));
    // Every text of the dark palette reads on its own background.
    const QPalette dark = darkPalette();
    for (auto [text, background] : {std::pair{QPalette::WindowText, QPalette::Window}, {QPalette::Text, QPalette::Base},
                                    {QPalette::ButtonText, QPalette::Button},
                                    {QPalette::HighlightedText, QPalette::Highlight},
                                    {QPalette::ToolTipText, QPalette::ToolTipBase}}) {
        EXPECT_GT(dark.color(text).lightness() - dark.color(background).lightness(), 100) << int(text);
    }
}

}  // namespace
}  // namespace keldwick
