#include "desktop/DesktopMotion.h"

#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

#include "desktop/FakePortal.h"
#include "desktop/PortalSettings.h"
#include "desktop/PrivateBus.h"

namespace keldwick {
namespace {

const QString appearanceSpace = QString::fromLatin1(appearanceNamespace);
const QString appearanceKey = QString::fromLatin1(reducedMotionKey);
const QString gnomeSpace = QString::fromLatin1(gnomeInterfaceNamespace);
const QString gnomeKey = QString::fromLatin1(gnomeAnimationsKey);
const QString kdeSpace = QString::fromLatin1(kdeGlobalsNamespace);
const QString kdeKey = QString::fromLatin1(kdeAnimationFactorKey);

TEST(DesktopMotionTest, ThePortalOrEitherDesktopCanAskForLessMotion) {
    const std::optional<QVariant> none;
    struct Case {
        const char* name;
        std::optional<QVariant> portal, gnome, kde;
        bool reduce;
    };
    const Case cases[] = {
        {"nothing known", none, none, none, false},
        {"portal: reduce", QVariant(1u), none, none, true},
        {"portal: no preference", QVariant(0u), none, none, false},
        {"portal: no preference, GNOME's off", QVariant(0u), QVariant(false), none, true},
        {"portal: reduce, GNOME's on", QVariant(1u), QVariant(true), none, true},
        {"portal: an unknown value", QVariant(2u), none, none, false},
        {"portal: of another type", QVariant(true), none, none, false},
        {"GNOME animations on", none, QVariant(true), none, false},
        {"GNOME animations off", none, QVariant(false), none, true},
        {"GNOME as text", none, QVariant(QStringLiteral("false")), none, true},
        {"GNOME of another type", none, QVariant(0), none, false},
        {"KDE instant, as KDE's portal sends it", none, none, QVariant(QStringLiteral("0")), true},
        {"KDE instant as a number", none, none, QVariant(0.0), true},
        {"KDE slower", none, none, QVariant(QStringLiteral("1.5")), false},
        {"KDE unreadable", none, none, QVariant(QStringLiteral("fast")), false},
        {"KDE empty", none, none, QVariant(QString()), false},
        {"one of two", none, QVariant(true), QVariant(QStringLiteral("0")), true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(reduceMotionFrom(c.portal, c.gnome, c.kde), c.reduce);
    }
}

class PortalTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (bus_.skipReason()) GTEST_SKIP() << *bus_.skipReason();
    }
    // A reading the test waits for.
    std::optional<QVariant> readNow(PortalSettings& portal, const QString& nameSpace, const QString& key) {
        std::optional<std::optional<QVariant>> answer;
        portal.read(nameSpace, key, [&](std::optional<QVariant> value) { answer = std::move(value); });
        EXPECT_TRUE(QTest::qWaitFor([&] { return answer.has_value(); }, 10000));
        return answer.value_or(std::nullopt);
    }

    test::PrivateBus bus_;
};

TEST_F(PortalTest, ValuesComeUnwrappedFromNewAndOlderPortals) {
    for (bool knowsReadOne : {true, false}) {
        SCOPED_TRACE(knowsReadOne ? "ReadOne" : "Read only");
        test::FakePortal fake(bus_.connect(), knowsReadOne);
        fake.set(gnomeSpace, gnomeKey, false);
        fake.set(kdeSpace, kdeKey, QStringLiteral("0.5"));
        PortalSettings portal(bus_.connect());
        EXPECT_EQ(readNow(portal, gnomeSpace, gnomeKey), QVariant(false));
        EXPECT_EQ(readNow(portal, kdeSpace, kdeKey), QVariant(QStringLiteral("0.5")));
        EXPECT_EQ(readNow(portal, gnomeSpace, QStringLiteral("no-such-key")), std::nullopt);
    }
}

TEST_F(PortalTest, MotionFollowsTheDesktopFromItsFirstAnswerOn) {
    test::FakePortal fake(bus_.connect());
    fake.set(gnomeSpace, gnomeKey, false);
    PortalSettings portal(bus_.connect());
    DesktopMotion motion(portal);
    QSignalSpy changes(&motion, &DesktopMotion::reduceMotionChanged);
    EXPECT_FALSE(motion.reduceMotion());  // allowed until the portal answers
    ASSERT_TRUE(QTest::qWaitFor([&] { return motion.reduceMotion(); }, 10000));

    fake.change(gnomeSpace, gnomeKey, true);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !motion.reduceMotion(); }, 10000));
    fake.change(kdeSpace, kdeKey, QStringLiteral("0"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return motion.reduceMotion(); }, 10000));
    // A change elsewhere in the desktop's settings changes nothing here.
    fake.change(gnomeSpace, QStringLiteral("color-scheme"), 1u);
    fake.change(kdeSpace, kdeKey, QStringLiteral("0.0"));
    QTest::qWait(100);
    EXPECT_TRUE(motion.reduceMotion());
    EXPECT_EQ(changes.count(), 3);
}

// The portal's own key, newer than some portals: read at start and followed live.
TEST_F(PortalTest, MotionFollowsThePortalsOwnSetting) {
    test::FakePortal fake(bus_.connect());
    fake.set(appearanceSpace, appearanceKey, 1u);
    PortalSettings portal(bus_.connect());
    DesktopMotion motion(portal);
    ASSERT_TRUE(QTest::qWaitFor([&] { return motion.reduceMotion(); }, 10000));

    fake.change(appearanceSpace, appearanceKey, 0u);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !motion.reduceMotion(); }, 10000));
    // No preference there leaves the word to the desktop's own setting.
    fake.change(gnomeSpace, gnomeKey, false);
    ASSERT_TRUE(QTest::qWaitFor([&] { return motion.reduceMotion(); }, 10000));
    fake.change(gnomeSpace, gnomeKey, true);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !motion.reduceMotion(); }, 10000));
    fake.change(appearanceSpace, appearanceKey, 1u);
    ASSERT_TRUE(QTest::qWaitFor([&] { return motion.reduceMotion(); }, 10000));
}

TEST_F(PortalTest, WithoutAPortalMotionIsAllowedAndNothingIsLogged) {
    static int logged = 0;
    logged = 0;
    const QtMessageHandler previous =
        qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) { ++logged; });
    {
        PortalSettings portal(bus_.connect());  // nobody owns the portal's name
        DesktopMotion motion(portal);
        QSignalSpy changes(&motion, &DesktopMotion::reduceMotionChanged);
        EXPECT_EQ(readNow(portal, gnomeSpace, gnomeKey), std::nullopt);
        QTest::qWait(50);
        EXPECT_FALSE(motion.reduceMotion());
        EXPECT_EQ(changes.count(), 0);
    }
    {
        // Not even a session bus.
        PortalSettings portal(QDBusConnection(QStringLiteral("no-such-connection")));
        EXPECT_EQ(readNow(portal, gnomeSpace, gnomeKey), std::nullopt);
    }
    qInstallMessageHandler(previous);
    EXPECT_EQ(logged, 0);
}

}  // namespace
}  // namespace keldwick
