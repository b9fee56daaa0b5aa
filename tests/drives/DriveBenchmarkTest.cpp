#include <fcntl.h>
#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cmath>
#include <thread>

#include "drives/DriveBenchmark.h"
#include "foundation/EngineError.h"
#include "platform/POSIXFailure.h"
#include "support/ManualClock.h"
#include "support/TempDir.h"

using namespace keldwick;
using keldwick::test::TempDir;

namespace {

constexpr int64_t MiB = 1 << 20;

DriveBenchmark small() {
    DriveBenchmark b;
    b.chunkSize = static_cast<int>(MiB);
    b.minBytes = 2 * MiB;
    b.maxBytes = 4 * MiB;
    b.writeBudget = 0;
    b.readBudget = 0;
    b.randomSamples = 8;
    return b;
}

std::vector<std::string> names(const std::string& folder) {
    std::vector<std::string> result;
    if (DIR* d = ::opendir(folder.c_str())) {
        while (dirent* e = ::readdir(d)) {
            std::string n = e->d_name;
            if (n != "." && n != "..") result.push_back(n);
        }
        ::closedir(d);
    }
    std::sort(result.begin(), result.end());
    return result;
}

bool isFolder(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

TEST(DriveBenchmarkTest, StopRulesPercentilesAndUnits) {
    DriveBenchmark b;
    // A fast drive stops at 512 MiB (64 chunks) however little time has passed.
    EXPECT_TRUE(b.keepsWriting(63 * 8 * MiB, 0.5));
    EXPECT_FALSE(b.keepsWriting(64 * 8 * MiB, 0.5));
    // A slow drive writes at least 64 MiB (8 chunks) whatever the time.
    EXPECT_TRUE(b.keepsWriting(7 * 8 * MiB, 60));
    EXPECT_FALSE(b.keepsWriting(8 * 8 * MiB, 4.0));
    EXPECT_TRUE(b.keepsWriting(8 * 8 * MiB, 3.9));
    EXPECT_TRUE(b.keepsReading(7 * 8 * MiB, 60));
    EXPECT_FALSE(b.keepsReading(8 * 8 * MiB, 4.0));
    EXPECT_TRUE(b.keepsReading(100 * 8 * MiB, 3.9));  // the read stops at the end of the file instead

    std::vector<double> times;
    for (int i = 95; i >= 0; --i) times.push_back(i / 1000.0);
    auto l = DriveBenchmark::latency(times);
    EXPECT_DOUBLE_EQ(l.medianMs, 48);
    EXPECT_DOUBLE_EQ(l.p90Ms, 86);
    l = DriveBenchmark::latency({0.002});
    EXPECT_DOUBLE_EQ(l.medianMs, 2);
    EXPECT_DOUBLE_EQ(l.p90Ms, 2);
    l = DriveBenchmark::latency({});
    EXPECT_EQ(l.medianMs, 0);
    EXPECT_EQ(l.p90Ms, 0);

    EXPECT_DOUBLE_EQ(DriveBenchmark::megabytesPerSecond(100'000'000, 1.0), 100.0);
    EXPECT_DOUBLE_EQ(DriveBenchmark::megabytesPerSecond(1'000'000, 0), 10'000.0);
}

TEST(DriveBenchmarkTest, MeasuresARealFolderAndLeavesOnlyTheProgramFolder) {
    TempDir drive;
    // Left by a test that died just now: two hours ago by the given clock, so stale.
    test::writeFile(drive / "Keldwick/.keldwick-benchmark-LEFT", "x");
    DriveBenchmark benchmark = small();
    benchmark.clock = std::make_shared<test::ManualClock>(Date::now().adding(7'200));
    BenchmarkResult r = benchmark.run(drive.path(), nullptr);
    EXPECT_EQ(r.bytesTested, 2 * MiB);  // budgets of 0: stop right at minBytes
    for (double v : {r.sequentialWriteMBps, r.sequentialReadMBps, r.randomReadMedianMs, r.randomReadP90Ms}) {
        EXPECT_TRUE(std::isfinite(v));
        EXPECT_GE(v, 0);
    }
    EXPECT_GT(r.sequentialWriteMBps, 0);
    EXPECT_GE(r.randomReadP90Ms, r.randomReadMedianMs);
    EXPECT_EQ(r.date, benchmark.clock->now());
    EXPECT_EQ(names(drive.path()), std::vector<std::string>{"Keldwick"});
    EXPECT_TRUE(names(drive / "Keldwick").empty());

    // A drive that had no program folder has none after its test either.
    TempDir fresh;
    small().run(fresh.path(), nullptr);
    EXPECT_TRUE(names(fresh.path()).empty());
}

TEST(DriveBenchmarkTest, UsesTheLegacyFolderWhenTheDriveHasOne) {
    TempDir drive;
    test::writeFile(drive / "Marrowfen/.marrowfen-drive.json", "{}");
    small().run(drive.path(), nullptr);
    EXPECT_EQ(names(drive.path()), std::vector<std::string>{"Marrowfen"});
    EXPECT_EQ(names(drive / "Marrowfen"), std::vector<std::string>{".marrowfen-drive.json"});
}

TEST(DriveBenchmarkTest, CancelledBeforeStartThrowsAndLeavesNoFile) {
    TempDir drive;
    CancellationFlag flag;
    flag.cancel();
    EXPECT_THROW(small().run(drive.path(), &flag), CancellationError);
    EXPECT_FALSE(isFolder(drive / "Keldwick"));  // made for the test, so gone with it
    EXPECT_TRUE(names(drive.path()).empty());
}

TEST(DriveBenchmarkTest, CancelledMidWriteStopsAndRemovesItsFile) {
    TempDir drive;
    test::makeDirs(drive / "Keldwick");
    DriveBenchmark b = small();
    b.minBytes = b.maxBytes = 1024 * MiB;  // far more than the test lets it write
    CancellationFlag flag;
    std::atomic<bool> done{false};
    std::thread canceller([&] {
        // Cancel as soon as the test file exists.
        while (!done && names(drive / "Keldwick").empty()) std::this_thread::sleep_for(std::chrono::microseconds(200));
        flag.cancel();
    });
    EXPECT_THROW(b.run(drive.path(), &flag), CancellationError);
    done = true;
    canceller.join();
    EXPECT_TRUE(names(drive / "Keldwick").empty());
}

TEST(DriveBenchmarkTest, AFullDriveFailsWithASentenceAndKeepsNothing) {
    if (::geteuid() != 0) GTEST_SKIP() << "mounting a small tmpfs needs root";
    TempDir dir;
    const std::string mountPoint = dir / "tiny";
    test::makeDirs(mountPoint);
    if (::mount("tmpfs", mountPoint.c_str(), "tmpfs", 0, "size=3m") != 0)
        GTEST_SKIP() << "can't mount a tmpfs here: " << std::strerror(errno);
    struct Unmount {
        std::string path;
        ~Unmount() { ::umount2(path.c_str(), MNT_DETACH); }
    } unmount{mountPoint};

    DriveBenchmark b = small();
    b.minBytes = b.maxBytes = 8 * MiB;
    try {
        b.run(mountPoint, nullptr);
        FAIL() << "expected the drive to fill up";
    } catch (const DriveBenchmarkNoRoom& full) {
        EXPECT_STREQ(full.what(), "There isn't enough room on the drive for its speed test: it needs 8.39 MB free.");
    }
    EXPECT_TRUE(names(mountPoint).empty());
}

TEST(DriveBenchmarkTest, MeasuresAFileSystemThatRefusesDirectIO) {
    if (::geteuid() != 0) GTEST_SKIP() << "mounting a ramfs needs root";
    TempDir dir;
    const std::string mountPoint = dir / "ram";
    test::makeDirs(mountPoint);
    if (::mount("ramfs", mountPoint.c_str(), "ramfs", 0, nullptr) != 0)
        GTEST_SKIP() << "can't mount a ramfs here: " << std::strerror(errno);
    struct Unmount {
        std::string path;
        ~Unmount() { ::umount2(path.c_str(), MNT_DETACH); }
    } unmount{mountPoint};
    // ramfs has no direct I/O: an O_DIRECT open fails there, after creating the file.
    const std::string probe = mountPoint + "/probe";
    int fd = ::open(probe.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_DIRECT, 0600);
    if (fd >= 0) {
        ::close(fd);
        GTEST_SKIP() << "this kernel's ramfs takes O_DIRECT";
    }
    ::unlink(probe.c_str());

    BenchmarkResult r = small().run(mountPoint, nullptr);
    EXPECT_EQ(r.bytesTested, 2 * MiB);
    EXPECT_GT(r.sequentialReadMBps, 0);
    EXPECT_TRUE(names(mountPoint + "/Keldwick").empty());
}

TEST(DriveBenchmarkTest, RemovesOnlyOldLeftoversOfEarlierTests) {
    TempDir dir;
    const std::string folder = dir / "Keldwick";
    const std::string old = test::writeFile(folder + "/.keldwick-benchmark-OLD", "x");
    test::writeFile(folder + "/.keldwick-benchmark-NEW", "x");
    test::writeFile(folder + "/.keldwick-drive.json", "{}");
    test::makeDirs(folder + "/.keldwick-benchmark-FOLDER");
    struct timespec times[2] = {{0, UTIME_OMIT}, {::time(nullptr) - 7200, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, old.c_str(), times, 0), 0);
    ASSERT_EQ(::utimensat(AT_FDCWD, (folder + "/.keldwick-drive.json").c_str(), times, 0), 0);

    DriveBenchmark::removeStaleFiles(folder, static_cast<double>(::time(nullptr)));
    EXPECT_EQ(names(folder), (std::vector<std::string>{".keldwick-benchmark-FOLDER", ".keldwick-benchmark-NEW",
                                                       ".keldwick-drive.json"}));
    DriveBenchmark::removeStaleFiles(dir / "missing", 0);  // never fails
}

TEST(DriveBenchmarkTest, ProgramFolderThatCannotBeMadeFailsAtOnce) {
    TempDir drive;
    test::writeFile(drive / "Keldwick", "a plain file in the folder's place");
    try {
        small().run(drive.path(), nullptr);
        FAIL() << "expected a failure";
    } catch (const POSIXFailure& failure) {
        EXPECT_EQ(failure.operation(), "mkdir");
    }
}
