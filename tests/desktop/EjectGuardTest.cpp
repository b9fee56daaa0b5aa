#include "desktop/EjectGuard.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QTest>

#include <gtest/gtest.h>

#include "desktop/PrivateBus.h"
#include "desktop/UdisksJob.h"
#include "platform/MountTable.h"
#include "support/RealMounts.h"
#include "support/TempDir.h"

using Interfaces = QMap<QString, QVariantMap>;
using ManagedObjects = QMap<QDBusObjectPath, Interfaces>;
Q_DECLARE_METATYPE(Interfaces)
Q_DECLARE_METATYPE(ManagedObjects)

namespace keldwick {
namespace {

const std::string kBlocks = "/org/freedesktop/UDisks2/block_devices/";
const std::string kDrives = "/org/freedesktop/UDisks2/drives/";

TEST(UdisksJobTest, MountPointsAJobTakesAway) {
    const std::vector<UdisksBlock> blocks = {
        {kBlocks + "sda2", "/", {"/"}},
        {kBlocks + "sdb", kDrives + "Stick", {}},
        {kBlocks + "sdb1", kDrives + "Stick", {"/media/me/Photos"}},
        {kBlocks + "sdb2", kDrives + "Stick", {"/media/me/Music", "/srv/music"}},
        {kBlocks + "sdc1", kDrives + "Backup", {"/media/me/Backup"}},
    };
    struct Case {
        const char* what;
        std::vector<std::string> objects;
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        {"one file system", {kBlocks + "sdb1"}, {"/media/me/Photos"}},
        {"a file system mounted twice", {kBlocks + "sdb2"}, {"/media/me/Music", "/srv/music"}},
        {"a whole drive", {kDrives + "Stick"}, {"/media/me/Photos", "/media/me/Music", "/srv/music"}},
        {"a drive and its own block, each once", {kDrives + "Stick", kBlocks + "sdb1"},
         {"/media/me/Photos", "/media/me/Music", "/srv/music"}},
        {"blocks without a drive are not all one drive", {"/"}, {}},
        {"an unknown object", {kBlocks + "sdz9"}, {}},
    };
    for (const auto& test : cases) EXPECT_EQ(UdisksJob::mountPoints(test.objects, blocks), test.expected) << test.what;

    for (auto [operation, takes] : {std::pair{"filesystem-unmount", true}, {"drive-eject", true},
                                   {"drive-power-off", true}, {"filesystem-mount", false}, {"format-mkfs", false}}) {
        EXPECT_EQ(UdisksJob::takesVolumesAway(operation), takes) << operation;
    }
}

struct Asked {
    std::vector<std::string> paths;
    std::vector<std::string> notices;
};

void wire(EjectGuard& guard, Asked& asked, const std::string& busyPath) {
    guard.shouldRefuse = [&asked, busyPath](const std::string& path) {
        asked.paths.push_back(path);
        return path == busyPath;
    };
    guard.postNotice = [&asked](const std::string& text) { asked.notices.push_back(text); };
}

TEST(EjectGuardTest, AsksForEachVolumeAndPostsTheBusyNoticeOnce) {
    EjectGuard guard({.useSystemBus = false, .bus = std::nullopt});
    guard.start();
    EXPECT_FALSE(guard.unmountRequested({"/media/me/Drive"})) << "nothing is refused before the model says so";

    Asked asked;
    wire(guard, asked, "/media/me/Drive");
    EXPECT_FALSE(guard.unmountRequested({"/media/me/Other"}));
    EXPECT_TRUE(guard.unmountRequested({"/media/me/Drive", "/media/me/Other"}));
    EXPECT_EQ(asked.paths, (std::vector<std::string>{"/media/me/Other", "/media/me/Drive", "/media/me/Other"}));
    EXPECT_EQ(asked.notices, std::vector<std::string>{
                                 "Keldwick is copying a file on this drive. Try ejecting again in a few seconds."});
}

bool isMounted(const std::string& point) {
    for (const auto& entry : platform::MountTable::read("/proc/self/mountinfo")) {
        if (entry.mountPoint == point) return true;
    }
    return false;
}

TEST(EjectGuardTest, HeldDriveCantBeUnmountedUntilLetGo) {
    if (auto reason = test::mountSkipReason("mkfs.ext4")) GTEST_SKIP() << *reason;
    test::TempDir temp;
    std::string point = temp / "Drive";
    test::LoopVolume volume(temp / "image", 16, "mkfs.ext4 -q -F -L Drive", "mount", point);
    if (!volume.mounted()) GTEST_SKIP() << volume.error();

    EjectGuard guard({.useSystemBus = false, .bus = std::nullopt});
    EXPECT_FALSE(guard.holdVolume(temp / "missing"));
    EXPECT_FALSE(guard.heldVolume());
    ASSERT_TRUE(guard.holdVolume(point));
    EXPECT_EQ(guard.heldVolume(), point);

    EXPECT_FALSE(test::run("umount " + point)) << "busy while held";
    EXPECT_TRUE(isMounted(point));

    // Holding another folder lets the drive go.
    ASSERT_TRUE(guard.holdVolume(temp.path()));
    EXPECT_EQ(guard.heldVolume(), temp.path());
    guard.releaseVolume();
    EXPECT_FALSE(guard.heldVolume());
    EXPECT_TRUE(test::run("umount " + point));
    EXPECT_FALSE(isMounted(point));
}

// udisks2 as it shows on the system bus: its block devices and a job signal.
class FakeUdisks : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.DBus.ObjectManager")

public:
    ManagedObjects objects;

public slots:
    ManagedObjects GetManagedObjects() { return objects; }
};

Interfaces block(const QString& drive, const QByteArrayList& mountPoints) {
    Interfaces interfaces;
    interfaces["org.freedesktop.UDisks2.Block"] = {{"Drive", QVariant::fromValue(QDBusObjectPath(drive))}};
    if (!mountPoints.isEmpty()) {
        interfaces["org.freedesktop.UDisks2.Filesystem"] = {{"MountPoints", QVariant::fromValue(mountPoints)}};
    }
    return interfaces;
}

TEST(EjectGuardTest, NoticesUdisksJobsThatTakeTheDriveAway) {
    test::PrivateBus bus;
    if (auto reason = bus.skipReason()) GTEST_SKIP() << *reason;
    qDBusRegisterMetaType<Interfaces>();
    qDBusRegisterMetaType<ManagedObjects>();
    qDBusRegisterMetaType<QByteArrayList>();
    QString address = bus.address();

    auto udisksBus = QDBusConnection::connectToBus(address, "fake-udisks");
    auto guardBus = QDBusConnection::connectToBus(address, "guard");
    ASSERT_TRUE(udisksBus.isConnected() && guardBus.isConnected());
    FakeUdisks udisks;
    udisks.objects[QDBusObjectPath("/org/freedesktop/UDisks2/block_devices/sdb1")] =
        block("/org/freedesktop/UDisks2/drives/Stick", {QByteArray("/media/me/Drive\0", 16)});
    udisks.objects[QDBusObjectPath("/org/freedesktop/UDisks2/block_devices/sdc1")] =
        block("/org/freedesktop/UDisks2/drives/Other", {QByteArray("/media/me/Other\0", 16)});
    ASSERT_TRUE(udisksBus.registerObject("/org/freedesktop/UDisks2", &udisks, QDBusConnection::ExportAllSlots));
    ASSERT_TRUE(udisksBus.registerService("org.freedesktop.UDisks2"));

    {
        EjectGuard guard({.useSystemBus = true, .bus = guardBus});
        Asked asked;
        wire(guard, asked, "/media/me/Drive");
        guard.start();
        QTest::qWait(100);  // the match rule reaches the bus
        auto job = [&](const QString& operation, const QString& object) {
            auto signal = QDBusMessage::createSignal("/org/freedesktop/UDisks2", "org.freedesktop.DBus.ObjectManager",
                                                     "InterfacesAdded");
            Interfaces interfaces;
            interfaces["org.freedesktop.UDisks2.Job"] = {
                {"Operation", operation},
                {"Objects", QVariant::fromValue(QList<QDBusObjectPath>{QDBusObjectPath(object)})}};
            signal << QVariant::fromValue(QDBusObjectPath("/org/freedesktop/UDisks2/jobs/7"))
                   << QVariant::fromValue(interfaces);
            udisksBus.send(signal);
        };
        job("filesystem-mount", "/org/freedesktop/UDisks2/block_devices/sdb1");
        job("filesystem-unmount", "/org/freedesktop/UDisks2/block_devices/sdc1");
        EXPECT_TRUE(QTest::qWaitFor([&] { return asked.paths.size() >= 1; }, 3000));
        job("drive-eject", "/org/freedesktop/UDisks2/drives/Stick");
        EXPECT_TRUE(QTest::qWaitFor([&] { return !asked.notices.empty(); }, 3000));
        QTest::qWait(100);
        EXPECT_EQ(asked.paths, (std::vector<std::string>{"/media/me/Other", "/media/me/Drive"}));
        EXPECT_EQ(asked.notices, std::vector<std::string>{EjectGuard::kBusyText});
    }
    QDBusConnection::disconnectFromBus("fake-udisks");
    QDBusConnection::disconnectFromBus("guard");
}

}  // namespace
}  // namespace keldwick

#include "EjectGuardTest.moc"
