#include "desktop/DriveWatcher.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <QDBusConnection>
#include <QDBusMessage>
#include <QTest>

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>

#include "desktop/PrivateBus.h"
#include "support/RealMounts.h"
#include "support/SysfsFixture.h"
#include "support/TempDir.h"

namespace keldwick {
namespace {

using Identity = platform::BlockDevices::Identity;

// A kernel datagram as the netlink socket delivers it.
std::string kernelEvent(const std::string& action, const std::string& name, const std::string& subsystem = "block") {
    std::string text = action + "@/devices/virtual/block/" + name;
    for (std::string entry : {"ACTION=" + action, "DEVPATH=/devices/virtual/block/" + name, "SUBSYSTEM=" + subsystem,
                              "DEVNAME=" + name, std::string("DEVTYPE=partition"), std::string("SEQNUM=4711")}) {
        text.push_back('\0');
        text += entry;
    }
    text.push_back('\0');
    return text;
}

// udevd's form: its header, then the properties.
std::string udevEvent(const std::string& action, const std::string& node, uint32_t magic = 0xfeedcafe) {
    std::string properties;
    for (std::string entry : {"ACTION=" + action, std::string("SUBSYSTEM=block"), "DEVNAME=" + node,
                              std::string("ID_FS_UUID=ABCD-1234")}) {
        properties += entry;
        properties.push_back('\0');
    }
    std::string header(40, '\0');
    header.replace(0, 8, std::string("libudev\0", 8));
    uint32_t fields[4] = {htonl(magic), 40, 40, static_cast<uint32_t>(properties.size())};
    std::memcpy(header.data() + 8, fields, sizeof fields);
    return header + properties;
}

TEST(UeventTest, ParsesBothNetlinkGroupsAndRejectsTheRest) {
    struct Case {
        const char* what;
        std::string datagram;
        std::optional<std::tuple<std::string, std::string, std::string>> expected;  // action, subsystem, name
    };
    std::string truncatedUdev = udevEvent("add", "/dev/sdb1");
    truncatedUdev.resize(60);
    std::string lyingUdev = udevEvent("add", "/dev/sdb1");
    uint32_t tooLong = 4096;
    std::memcpy(lyingUdev.data() + 20, &tooLong, sizeof tooLong);
    const Case cases[] = {
        {"kernel", kernelEvent("change", "loop3"), std::tuple("change", "block", "loop3")},
        {"udev names the node", udevEvent("remove", "/dev/sdb1"), std::tuple("remove", "block", "sdb1")},
        {"other subsystem", kernelEvent("add", "1-1", "usb"), std::tuple("add", "usb", "1-1")},
        {"udev with a foreign magic", udevEvent("add", "/dev/sdb1", 0xdeadbeef), std::nullopt},
        {"udev properties past the end", lyingUdev, std::nullopt},
        {"udev cut short", truncatedUdev.substr(0, 30), std::nullopt},
        {"no action line", std::string("ACTION=add\0SUBSYSTEM=block\0", 27), std::nullopt},
        {"empty", "", std::nullopt},
    };
    for (const auto& test : cases) {
        auto event = Uevent::parse(test.datagram);
        ASSERT_EQ(event.has_value(), test.expected.has_value()) << test.what;
        if (!event) continue;
        EXPECT_EQ(std::tuple(event->action, event->subsystem, event->devName), *test.expected) << test.what;
    }
}

TEST(DriveWatcherTest, DiskVolumeFromWhatTheFileSystemSays) {
    struct Case {
        const char* what;
        Identity identity;
        std::optional<std::string> mountPoint;
        std::optional<DiskVolume> expected;
    };
    const Case cases[] = {
        {"uuid and label, not mounted yet", {"ext4", "0f3c9a1e-5b7d-4c2a-9e1f-2b3c4d5e6f70", "Backup"}, std::nullopt,
         DiskVolume{"0f3c9a1e-5b7d-4c2a-9e1f-2b3c4d5e6f70", "Backup", std::nullopt}},
        {"mounted", {"ext4", "0f3c9a1e-5b7d-4c2a-9e1f-2b3c4d5e6f70", "Backup"}, "/media/me/Backup",
         DiskVolume{"0f3c9a1e-5b7d-4c2a-9e1f-2b3c4d5e6f70", "Backup", "/media/me/Backup"}},
        {"a FAT serial is a UUID too", {"vfat", "ABCD-1234", std::nullopt}, std::nullopt,
         DiskVolume{"ABCD-1234", std::nullopt, std::nullopt}},
        {"label only", {"exfat", std::nullopt, "Travel"}, std::nullopt, DiskVolume{std::nullopt, "Travel", std::nullopt}},
        {"a label in a DOS code page", {"vfat", std::nullopt, std::string("Caf\xe9")}, std::nullopt,
         DiskVolume{std::nullopt, "Caf\xef\xbf\xbd", std::nullopt}},
        {"whole disk with a partition table", {std::nullopt, std::nullopt, std::nullopt}, std::nullopt, std::nullopt},
        {"empty texts count as none", {"ext4", "", ""}, "/mnt", std::nullopt},
    };
    for (const auto& test : cases) {
        EXPECT_EQ(DriveWatcher::diskVolume(test.identity, test.mountPoint), test.expected) << test.what;
    }
}

// Recorded datagrams, handed over through a pipe so the watcher's notifier fires as it
// would for the netlink socket.
class RecordedUevents : public UeventSource {
public:
    struct Shared {
        int pipe[2] = {-1, -1};
        std::vector<std::string> waiting;
        bool lost = false;
        void push(const std::string& datagram, bool dropped = false) {
            waiting.push_back(datagram);
            lost |= dropped;
            EXPECT_EQ(::write(pipe[1], "x", 1), 1);
        }
    };
    explicit RecordedUevents(std::shared_ptr<Shared> shared) : shared_(std::move(shared)) {}
    int descriptor() const override { return shared_->pipe[0]; }
    std::vector<Uevent> receive(bool& lost) override {
        char drain[64];
        while (::read(shared_->pipe[0], drain, sizeof drain) == sizeof drain) {
        }
        std::vector<Uevent> events;
        for (const auto& datagram : std::exchange(shared_->waiting, {})) {
            if (auto event = Uevent::parse(datagram)) events.push_back(*event);
        }
        lost = std::exchange(shared_->lost, false);
        return events;
    }

private:
    std::shared_ptr<Shared> shared_;
};

struct Report {
    std::string name;
    std::optional<DiskVolume> volume;
    bool operator==(const Report&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Report& report) {
    out << report.name << " -> ";
    if (!report.volume) return out << "no volume";
    return out << report.volume->uuid.value_or("-") << " " << report.volume->name.value_or("-") << " "
               << report.volume->mountPath.value_or("(not mounted)");
}

class FixtureWatch : public ::testing::Test {
protected:
    FixtureWatch() : fixture(temp.path()) {
        ::pipe2(shared->pipe, O_CLOEXEC | O_NONBLOCK);
        std::string disk = fixture.usbDisk("sdb", "8:16", "5000");
        fixture.partition(disk, "sdb1", "8:17");
        label("Travel\\x20Drive");
        mountTable("");
        options.roots = fixture.roots();
        options.openUevents = [shared = shared](const platform::SystemRoots&, std::string&) {
            return std::make_unique<RecordedUevents>(shared);
        };
        options.wake.useSystemBus = false;
        options.settleMilliseconds = 20;
        makeWatcher();
    }
    void makeWatcher() {
        watcher = std::make_unique<DriveWatcher>(options);
        watcher->onDiskChanged = [this](const std::string& name, const std::optional<DiskVolume>& volume) {
            reports.push_back({name, volume});
        };
        watcher->onVolumesChanged = [this] { ++volumeChanges; };
    }
    ~FixtureWatch() override {
        watcher.reset();
        ::close(shared->pipe[0]);
        ::close(shared->pipe[1]);
    }

    void label(const std::string& encoded) {
        test::writeFile(temp / "udev/b8:17", "E:ID_FS_TYPE=exfat\nE:ID_FS_UUID=ABCD-1234\nE:ID_FS_LABEL=Travel_Drive\n"
                                             "E:ID_FS_LABEL_ENC=" + encoded + "\n");
    }
    void mountTable(const std::string& extra) {
        test::writeFile(fixture.roots().mountinfo, "22 1 8:2 / / rw,relatime - ext4 /dev/sda2 rw\n" + extra);
    }
    // Waits until `count` reports have come, then a little longer for any that shouldn't.
    std::vector<Report> settle(size_t count) {
        EXPECT_TRUE(QTest::qWaitFor([&] { return reports.size() >= count; }, 2000));
        QTest::qWait(60);
        return std::exchange(reports, {});
    }

    test::TempDir temp;
    test::SysfsFixture fixture;
    std::shared_ptr<RecordedUevents::Shared> shared = std::make_shared<RecordedUevents::Shared>();
    DriveWatcher::Options options;
    std::unique_ptr<DriveWatcher> watcher;
    std::vector<Report> reports;
    int volumeChanges = 0;
};

const std::string kMounted = "60 22 8:17 / /media/me/Travel\\040Drive rw,nosuid - exfat /dev/sdb1 rw\n";

TEST_F(FixtureWatch, ReportsEachDiskAtStartThenOnlyWhatChanges) {
    watcher->start();
    watcher->start();
    EXPECT_EQ(settle(2), (std::vector<Report>{{"sdb", std::nullopt},
                                              {"sdb1", DiskVolume{"ABCD-1234", "Travel Drive", std::nullopt}}}));
    EXPECT_EQ(volumeChanges, 0) << "volumes already mounted at start are not news";

    mountTable(kMounted);
    watcher->mountTableChanged();
    watcher->mountTableChanged();
    EXPECT_EQ(settle(1), (std::vector<Report>{{"sdb1", DiskVolume{"ABCD-1234", "Travel Drive", "/media/me/Travel Drive"}}}));
    EXPECT_EQ(volumeChanges, 1) << "a burst of table changes is read once";

    // A "change" that changes nothing is not passed on; events of other subsystems are ignored.
    shared->push(kernelEvent("change", "sdb1"));
    shared->push(kernelEvent("add", "1-2", "usb"));
    EXPECT_EQ(settle(0), std::vector<Report>{});

    label("Photos");
    shared->push(kernelEvent("change", "sdb1"));
    EXPECT_EQ(settle(1), (std::vector<Report>{{"sdb1", DiskVolume{"ABCD-1234", "Photos", "/media/me/Travel Drive"}}}));
    EXPECT_EQ(volumeChanges, 2) << "a mounted volume given a new name";

    mountTable("");
    watcher->mountTableChanged();
    EXPECT_EQ(settle(1), (std::vector<Report>{{"sdb1", DiskVolume{"ABCD-1234", "Photos", std::nullopt}}}));
    EXPECT_EQ(volumeChanges, 3);

    // The removal is believed even while the device still shows in sysfs.
    shared->push(kernelEvent("remove", "sdb1"));
    shared->push(kernelEvent("remove", "sdb"));
    EXPECT_EQ(settle(2), (std::vector<Report>{{"sdb", std::nullopt}, {"sdb1", std::nullopt}}));
    EXPECT_EQ(volumeChanges, 3);
}

TEST_F(FixtureWatch, LostEventsLookAtEveryDiskAgain) {
    watcher->start();
    settle(2);
    std::filesystem::remove(temp / "sys/class/block/sdb1");
    std::string disk = fixture.usbDisk("sdc", "8:32", "5000");
    fixture.partition(disk, "sdc1", "8:33");
    test::writeFile(temp / "udev/b8:33", "E:ID_FS_TYPE=ext4\nE:ID_FS_UUID=0f3c9a1e\n");
    shared->push(kernelEvent("change", "unrelated"), /*dropped=*/true);
    EXPECT_EQ(settle(3), (std::vector<Report>{{"sdb1", std::nullopt},
                                              {"sdc", std::nullopt},
                                              {"sdc1", DiskVolume{"0f3c9a1e", std::nullopt, std::nullopt}}}));
}

TEST_F(FixtureWatch, WithoutDeviceEventsNoDisksButStillMounts) {
    options.openUevents = [](const platform::SystemRoots&, std::string& whyNot) -> std::unique_ptr<UeventSource> {
        whyNot = "no netlink here";
        return nullptr;
    };
    makeWatcher();
    watcher->start();
    EXPECT_EQ(settle(0), std::vector<Report>{});
    mountTable(kMounted);
    watcher->mountTableChanged();
    EXPECT_TRUE(QTest::qWaitFor([&] { return volumeChanges == 1; }, 2000));
    EXPECT_EQ(settle(0), std::vector<Report>{});
}

// A wake watch on a clock the test sets, counting the wakes it reports. The clock's jumps
// come from an eventfd the test writes to; without one, the watch ticks.
struct ClockedWatch {
    explicit ClockedWatch(std::optional<QDBusConnection> bus, bool jumpsTold = true, int pauseMilliseconds = 5) {
        WakeWatch::Options options;
        options.useSystemBus = bus.has_value();
        options.bus = bus;
        options.suspendedSeconds = [this] {
            ++looks;
            return suspended;
        };
        options.tickMilliseconds = 5;
        options.jumpPauseMilliseconds = pauseMilliseconds;
        options.openClockJumps = [this, jumpsTold] {
            if (!jumpsTold) {
                errno = ENODEV;
                return platform::Fd();
            }
            platform::Fd fd(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC));
            jumps = fd.get();
            return fd;
        };
        options.awaitNextClockJump = [this](int) { return !rearmFails; };
        watch = std::make_unique<WakeWatch>(options);
        watch->onWake = [this] { ++wakes; };
        watch->start();
    }
    void jump() const {
        const uint64_t one = 1;
        ASSERT_EQ(::write(jumps, &one, sizeof one), static_cast<ssize_t>(sizeof one));
    }
    double suspended = 100;
    int wakes = 0;
    int looks = 0;
    int jumps = -1;
    bool rearmFails = false;
    std::unique_ptr<WakeWatch> watch;
};

TEST(WakeWatchTest, ClocksDrawingApartMeanTheMachineSlept) {
    struct Step {
        double suspended;
        bool jump;
        int wakes;
    };
    for (bool jumpsTold : {true, false}) {
        SCOPED_TRACE(jumpsTold ? "looked at when the clock jumps" : "looked at each tick");
        ClockedWatch clocked(std::nullopt, jumpsTold);
        // Small growth (clock adjustments) is no sleep; each real gap counts once. Where
        // jumps are told, nothing is looked at between them.
        for (auto step : {Step{100, true, 0}, Step{101.5, true, 0}, Step{160, false, jumpsTold ? 0 : 1},
                          Step{160, true, 1}, Step{160, true, 1}, Step{3760, true, 2}}) {
            clocked.suspended = step.suspended;
            if (step.jump && jumpsTold) clocked.jump();
            QTest::qWait(30);
            EXPECT_EQ(clocked.wakes, step.wakes) << "at " << step.suspended;
        }
    }
    // A timer that can't be armed again after a jump leaves the tick to look.
    ClockedWatch clocked(std::nullopt);
    clocked.rearmFails = true;
    clocked.jump();
    QTest::qWait(30);
    clocked.suspended = 200;
    QTest::qWait(30);
    EXPECT_EQ(clocked.wakes, 1);

    EXPECT_GT(WakeWatch::systemSuspendedSeconds(), -1.0);
    // The real timer waits for a jump: it isn't readable on its own.
    const platform::Fd timer = WakeWatch::openClockJumpTimer();
    ASSERT_TRUE(timer) << std::strerror(errno);
    pollfd ready{timer.get(), POLLIN, 0};
    EXPECT_EQ(::poll(&ready, 1, 50), 0);
}

TEST(WakeWatchTest, AClockSetManyTimesASecondIsLookedAtOncePerPause) {
    ClockedWatch clocked(std::nullopt, true, 300);
    clocked.jump();
    QTest::qWait(30);
    const int looked = clocked.looks;
    for (int i = 0; i < 10; ++i) {
        clocked.jump();
        QTest::qWait(10);
    }
    EXPECT_EQ(clocked.looks, looked) << "jumps within the pause wake nothing";
    // A sleep among those jumps is still seen, once, when the pause ends.
    clocked.suspended = 500;
    EXPECT_TRUE(QTest::qWaitFor([&] { return clocked.wakes == 1; }, 2000));
    QTest::qWait(50);
    EXPECT_EQ(clocked.wakes, 1);
    EXPECT_LE(clocked.looks, looked + 2);
}

TEST(WakeWatchTest, LogindTellsOfWakingWhereItRunsAndTheClocksWhereNot) {
    test::PrivateBus bus;
    if (auto reason = bus.skipReason()) GTEST_SKIP() << *reason;
    for (bool logindRuns : {true, false}) {
        SCOPED_TRACE(logindRuns ? "logind runs" : "no logind");
        QString logindName = logindRuns ? "logind" : "no-logind", watcherName = "watcher-" + logindName;
        auto logind = QDBusConnection::connectToBus(bus.address(), logindName);
        ASSERT_TRUE(logind.isConnected());
        if (logindRuns) {
            ASSERT_TRUE(logind.registerService("org.freedesktop.login1"));
        }
        ClockedWatch clocked(QDBusConnection::connectToBus(bus.address(), watcherName));
        QTest::qWait(200);  // logind's presence is asked, the match rule reaches the bus
        auto prepareForSleep = [&](bool starting) {
            auto signal = QDBusMessage::createSignal("/org/freedesktop/login1", "org.freedesktop.login1.Manager",
                                                     "PrepareForSleep");
            signal << starting;
            logind.send(signal);
            QTest::qWait(100);
        };
        prepareForSleep(true);
        EXPECT_EQ(clocked.wakes, 0) << "going to sleep";
        prepareForSleep(false);
        EXPECT_EQ(clocked.wakes, logindRuns ? 1 : 0);
        // Where logind reports, the clocks are not watched as well: one wake, one report.
        clocked.suspended = 200;
        if (!logindRuns) clocked.jump();
        QTest::qWait(100);
        EXPECT_EQ(clocked.wakes, 1);
        QDBusConnection::disconnectFromBus(logindName);  // gives up the name
        QDBusConnection::disconnectFromBus(watcherName);
    }
}

// The real thing: a loop-mounted ext4 image seen by a watcher on the real sources. Events
// come within a second on a quiet machine; the wait allows for a runner busy mounting
// volumes of its own.
constexpr int kSeenWithin = 5000;

TEST(DriveWatcherRealTest, SeesMountRelabelAndUnmount) {
    if (auto reason = test::mountSkipReason("mkfs.ext4")) GTEST_SKIP() << *reason;
    if (!test::run("command -v e2label")) GTEST_SKIP() << "e2label is not installed";
    std::string whyNot;
    if (!openNetlinkUevents(platform::SystemRoots::system(), whyNot)) GTEST_SKIP() << whyNot;
    test::TempDir temp;
    DriveWatcher::Options options;
    options.wake.useSystemBus = false;
    DriveWatcher watcher(options);
    std::map<std::string, std::optional<DiskVolume>> latest;
    int volumeChanges = 0;
    watcher.onDiskChanged = [&](const std::string& name, const std::optional<DiskVolume>& volume) {
        latest[name] = volume;
    };
    watcher.onVolumesChanged = [&] { ++volumeChanges; };
    watcher.start();
    QTest::qWait(300);  // the first pass over the disks already present

    std::string point = temp / "Keldwick Test";
    test::LoopVolume volume(temp / "image", 16, "mkfs.ext4 -q -F -L Before", "mount", point);
    if (!volume.mounted()) GTEST_SKIP() << volume.error();
    std::string name = volume.device().substr(5);
    auto seen = [&](const std::optional<std::string>& label, const std::optional<std::string>& mountPath) {
        return QTest::qWaitFor(
            [&] {
                auto found = latest.find(name);
                return found != latest.end() && found->second && found->second->name == label &&
                       found->second->mountPath == mountPath && found->second->uuid;
            },
            kSeenWithin);
    };
    EXPECT_TRUE(seen("Before", point)) << "mounted";
    EXPECT_TRUE(QTest::qWaitFor([&] { return volumeChanges >= 1; }, kSeenWithin));

    int before = volumeChanges;
    ASSERT_TRUE(test::run("e2label " + volume.device() + " After"));
    std::ofstream(platform::SystemRoots::system().sys + "/class/block/" + name + "/uevent") << "change";
    EXPECT_TRUE(seen("After", point)) << "relabelled";
    EXPECT_TRUE(QTest::qWaitFor([&] { return volumeChanges > before; }, kSeenWithin));

    before = volumeChanges;
    volume.unmount();
    EXPECT_TRUE(seen("After", std::nullopt)) << "unmounted";
    EXPECT_TRUE(QTest::qWaitFor([&] { return volumeChanges > before; }, kSeenWithin));
}

}  // namespace
}  // namespace keldwick
