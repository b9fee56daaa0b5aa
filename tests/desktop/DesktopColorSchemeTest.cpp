#include "desktop/DesktopColorScheme.h"

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

}  // namespace
}  // namespace keldwick
