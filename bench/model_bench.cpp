// The program's model keeps its main thread responsive while the engine works: a 1 ms
// timer ticks on the main thread while (1) a run moves small files to a drive folder and
// the model settles afterwards, and (2) the automatic check's scan walks a tree of 200,000
// entries, and the longest gap between two ticks is printed (the goal: under 16 ms).
// (3) Start-up with a journal of 10,000 records: from building the model to its first
// status line (the goal: under 300 ms), median of five. The real model with the real
// engine and scanner, release build; the machine may be shared, so the load average and
// how long the main thread itself ran are printed beside the figures.
//
// The journal holds 10,000 records in every scenario. The run moves 1,000 files into a
// journal that already holds 9,000 records: the engine takes tens of milliseconds per
// file, so 10,000 files would take a quarter of an hour, while what the main thread does
// is the same per file, and after the run it reads the same 10,000 records.
//
// (4) The run again on a real file system: the home and the drive are ext4 volumes of their
// own on loop devices, and the files are 1 MiB each, so copies, flushes and verification
// meet a journaling file system. It needs root and mkfs.ext4; without them it says so and
// is skipped. Beside the longest run it prints where the main thread was: a watchdog
// thread takes the main thread's stack once it has run 10 ms of CPU time without ticking.
//
// Every move meets a real file system: as root the home and the drive are ext4 images on
// loop devices with direct I/O (in /var/tmp), else two folders beneath the home; the
// scan's tree and the start-up's journal live in memory (/dev/shm), as what they measure
// is the main thread, not the disk.
//
// KELDWICK_MODEL_RECORDS, KELDWICK_MODEL_ENTRIES and KELDWICK_MODEL_FILES change the
// sizes; KELDWICK_MODEL_TMP the folder the scan's tree is made in (default /dev/shm);
// KELDWICK_MODEL_EXT4_FILES the number of 1 MiB files moved on ext4 (default 200).

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <execinfo.h>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cxxabi.h>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "Volumes.h"
#include "drives/DriveMarker.h"
#include "drives/FolderDriveLocator.h"
#include "model/AppModel.h"
#include "model/StatusTexts.h"
#include "scanning/SettingsStore.h"

using namespace keldwick;
namespace fs = std::filesystem;

namespace {

long sizeFromEnvironment(const char* name, long fallback) {
    const char* text = std::getenv(name);
    if (!text) return fallback;
    const long value = std::strtol(text, nullptr, 10);
    return value > 0 ? value : fallback;
}

std::string loadAverage() {
    std::ifstream in("/proc/loadavg");
    std::string one, five, fifteen;
    in >> one >> five >> fifteen;
    return one + " " + five + " " + fifteen;
}

const time_t yearAgo = time(nullptr) - 365 * 86'400;

// `bytes` last used and changed a year ago, so the scan and the engine take it.
void writeSmallFile(const std::string& path, size_t bytes = 1024) {
    {
        std::ofstream out(path, std::ios::binary);
        out << std::string(bytes, 'k');
    }
    const timespec old{yearAgo, 0};
    const timespec times[2] = {old, old};
    utimensat(AT_FDCWD, path.c_str(), times, 0);
}

// The main thread's stack, taken by a signal the watchdog sends it. backtrace() is called
// once before any signal, so the handler never loads the unwinder itself.
struct StackSample {
    static constexpr int kFrames = 48;
    static inline void* frames[kFrames];
    static inline std::atomic<int> depth{0};
    static void handler(int) { depth = backtrace(frames, kFrames); }
    static void install() {
        void* warm[2];
        backtrace(warm, 2);
        struct sigaction action{};
        action.sa_handler = handler;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        sigaction(SIGUSR2, &action, nullptr);
    }
    // The first frames that name the program's own code (keldwick::), else the first named.
    static std::string describe(const std::vector<void*>& stack) {
        if (stack.empty()) return "no stack taken";
        char** names = backtrace_symbols(stack.data(), static_cast<int>(stack.size()));
        std::string own, any;
        int taken = 0;
        for (size_t i = 2; i < stack.size() && names; ++i) {  // past the handler and the signal frame
            std::string name = names[i];
            const auto open = name.find('('), plus = name.find('+', open);
            if (open == std::string::npos || plus == std::string::npos || plus == open + 1) continue;
            std::string symbol = name.substr(open + 1, plus - open - 1);
            if (char* plain = abi::__cxa_demangle(symbol.c_str(), nullptr, nullptr, nullptr)) {
                symbol = plain;
                std::free(plain);
            }
            if (symbol.size() > 110) symbol = symbol.substr(0, 110) + "…";
            if (any.empty()) any = symbol;
            if (symbol.find("keldwick::") != std::string::npos && taken < 3) {
                own += (own.empty() ? "" : " < ") + symbol;
                ++taken;
            }
        }
        std::free(names);
        return !own.empty() ? own : !any.empty() ? any : "no named frame";
    }
};

// Ticks every millisecond on the main thread and keeps the longest gap between ticks, and
// the most time the main thread itself ran (its CPU clock) between two ticks. On a loaded
// machine a long gap in which the thread hardly ran is the scheduler serving other
// processes; a long run is the model's own work.
class GapMeter {
public:
    GapMeter() {
        timer_.setTimerType(Qt::PreciseTimer);
        QObject::connect(&timer_, &QTimer::timeout, [this] { tick(); });
    }
    ~GapMeter() { stop(); }
    // With `sampling`, a watchdog takes the main thread's stack in each run past 10 ms.
    void start(bool sampling = false) {
        longest_ = 0;
        ranInLongest_ = 0;
        longestRun_ = 0;
        last_ = -1;
        longestStack_.clear();
        lastTickCpu_ = threadCpuNanoseconds();
        clock_.start();
        timer_.start(1);
        if (!sampling) return;
        StackSample::install();
        watching_ = true;
        const pthread_t main = pthread_self();
        clockid_t mainClock{};
        pthread_getcpuclockid(main, &mainClock);
        watchdog_ = std::thread([this, main, mainClock] {
            int64_t sampledTick = -1;
            while (watching_) {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
                const int64_t tick = ticks_.load();
                timespec cpu{};
                clock_gettime(mainClock, &cpu);
                const qint64 ran = qint64(cpu.tv_sec) * 1'000'000'000 + cpu.tv_nsec - lastTickCpu_.load();
                if (tick == sampledTick || ran < 10'000'000) continue;
                sampledTick = tick;
                StackSample::depth = 0;
                sampledAt_ = tick;
                pthread_kill(main, SIGUSR2);
            }
        });
    }
    void stop() {
        timer_.stop();
        watching_ = false;
        if (watchdog_.joinable()) watchdog_.join();
    }

    std::string text() const {
        char line[200];
        std::snprintf(line, sizeof line,
                      "longest main-thread gap %.2f ms (goal < 16; the thread ran %.2f ms of it), "
                      "longest main-thread run between two ticks %.2f ms",
                      longest_ / 1e6, ranInLongest_ / 1e6, longestRun_ / 1e6);
        return line;
    }
    // Where the main thread was in its longest run, when a stack was taken in it.
    std::string where() const { return StackSample::describe(longestStack_); }

private:
    static qint64 threadCpuNanoseconds() {
        timespec cpu{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &cpu);
        return qint64(cpu.tv_sec) * 1'000'000'000 + cpu.tv_nsec;
    }
    void tick() {
        const qint64 now = clock_.nsecsElapsed();
        const qint64 cpu = threadCpuNanoseconds();
        if (last_ >= 0) {
            if (now - last_ > longest_) {
                longest_ = now - last_;
                ranInLongest_ = cpu - lastCpu_;
            }
            if (cpu - lastCpu_ > longestRun_) {
                longestRun_ = cpu - lastCpu_;
                // The stack the watchdog took in this run, if it took one.
                longestStack_.clear();
                if (sampledAt_.load() == ticks_.load() && StackSample::depth > 0)
                    longestStack_.assign(StackSample::frames, StackSample::frames + StackSample::depth);
            }
        }
        last_ = now;
        lastCpu_ = cpu;
        lastTickCpu_ = cpu;
        ++ticks_;
    }

    QTimer timer_;
    QElapsedTimer clock_;
    qint64 last_ = -1, lastCpu_ = 0;
    qint64 longest_ = 0, ranInLongest_ = 0, longestRun_ = 0;
    std::atomic<qint64> lastTickCpu_{0};
    std::atomic<int64_t> ticks_{0}, sampledAt_{-1};
    std::atomic<bool> watching_{false};
    std::thread watchdog_;
    std::vector<void*> longestStack_;
};

// The scan's tree lives in memory (/dev/shm) unless KELDWICK_MODEL_TMP names a folder:
// what the scan measures is the model's main thread.
std::string benchRoot() {
    if (const char* folder = std::getenv("KELDWICK_MODEL_TMP")) return folder;
    if (fs::is_directory("/dev/shm")) return "/dev/shm";
    return fs::temp_directory_path().string();
}

struct World {
    std::string root, home, support, drive;
    Drive chosen;

    // In `folder` when one is given (its "home" and "drive" may be mounted volumes).
    explicit World(const std::string& name, const std::string& folder = "") {
        root = !folder.empty() ? folder : benchRoot() + "/keldwick-model-bench-" + name + "-" + std::to_string(getpid());
        home = root + "/home";
        support = root + "/support";
        drive = root + "/drive";
        fs::create_directories(home + "/Downloads");
        fs::create_directories(drive);
        chosen = DriveMarker::adopt(drive, "Bench");
        AppSettings settings;
        settings.onboardingComplete = true;
        settings.drive = chosen;
        settings.managedFolders = {home + "/Downloads"};
        SettingsStore{support + "/settings.json"}.save(settings);
    }
    ~World() {
        std::error_code ignored;
        fs::remove_all(home, ignored);
        fs::remove_all(drive, ignored);
        fs::remove_all(root, ignored);
    }

    std::unique_ptr<AppModel> model() const {
        AppServices services;
        services.preferences = std::make_shared<MemoryPreferences>();
        return std::make_unique<AppModel>(
            AppEnvironment{home, support, std::make_shared<FolderDriveLocator>(chosen.id, drive), std::nullopt},
            std::move(services));
    }
};

template <class Done>
void spin(const Done& done) {
    while (!done()) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
}

void refreshAndWait(AppModel& model) {
    bool refreshed = false;
    model.refresh([&] { refreshed = true; });
    spin([&] { return refreshed; });
}

// `count` records of items moved to the chosen drive.
void seedJournal(const World& world, long count) {
    Journal journal(world.support + "/journal.sqlite");
    journal.transaction([&] {
        for (long i = 0; i < count; ++i) {
            NewRecord record;
            record.originalPath = world.home + "/Downloads/item" + std::to_string(i);
            record.driveID = world.chosen.id;
            record.driveRelativePath = "item" + std::to_string(i);
            record.size = 4096;
            record.phase = Phase::offloaded;
            journal.insertUnlocked(record);
        }
    });
}

void runOfFiles(const World& world, long files, long records, size_t bytes, const char* what) {
    seedJournal(world, std::max(0L, records - files));
    OffloadPlan plan;
    for (long i = 0; i < files; ++i) {
        const std::string folder = world.home + "/Downloads/batch" + std::to_string(i / 1000);
        if (i % 1000 == 0) fs::create_directories(folder);
        Candidate item;
        item.path = folder + "/file" + std::to_string(i) + ".bin";
        writeSmallFile(item.path, bytes);
        item.size = static_cast<int64_t>(bytes);
        item.driveSize = static_cast<int64_t>(bytes);
        item.fileCount = 1;
        plan.items.push_back(std::move(item));
    }
    // The engine refuses an item changed after the scan dated it; writing just now did.
    for (auto& item : plan.items) item.lastUsed = Date::now();
    auto model = world.model();
    refreshAndWait(*model);
    GapMeter meter;
    bool finished = false;
    RunSummary summary;
    QElapsedTimer wall;
    wall.start();
    meter.start(true);
    model->operations().perform<RunSummary>(
        Activity::moving, nullptr,
        [&plan](EngineOperations& engine, const EngineOperations::Cancel& cancel,
                const EngineOperations::Progress& progress) { return engine.run(plan, false, cancel, progress); },
        [&](EngineOutcome<RunSummary> outcome) {
            if (outcome.succeeded()) summary = *outcome.value;
            finished = true;
        },
        WorkPriority::background);
    spin([&] { return finished; });
    meter.stop();
    if (!summary.failures.empty())
        std::printf("first failure: %s\n", summary.failures.front().message.c_str());
    std::printf("run of %ld %s, then settled with %zu records listed: moved %zu, failed %zu in %.1f s; %s; "
                "load %s\n",
                files, what, model->state().records.size(), summary.completed.size(), summary.failures.size(),
                wall.elapsed() / 1000.0, meter.text().c_str(), loadAverage().c_str());
    std::printf("  the longest main-thread run was in: %s\n", meter.where().c_str());
}

// Where the moves' volumes go: on the disk, never in memory; as root beside the loop
// images' usual place, else beneath the home.
std::string movesFolder(const char* name) {
    const char* home = std::getenv("HOME");
    const std::string base = geteuid() == 0 || !home || !*home ? "/var/tmp" : home;
    return base + "/keldwick-model-bench-" + name + "-" + std::to_string(getpid());
}

void runOfSmallFiles(long files, long records) {
    const std::string folder = movesFolder("run");
    {
        // The drive keeps its reserve free beyond what it takes (images are sparse).
        bench::HomeAndDrive volumes(folder, 64 + files / 50, 1600 + files / 50);
        std::printf("run of small files: %s\n", volumes.description.c_str());
        World world("run", folder);
        runOfFiles(world, files, records, 1024, "small files");
    }
    std::error_code ignored;
    fs::remove_all(folder, ignored);
}

// The home and the drive on ext4 volumes of their own, files of 1 MiB; the images on the
// disk, in /var/tmp.
void runOnExt4(long files, long records) {
    const std::string folder = movesFolder("ext4");
    fs::create_directories(folder);
    constexpr size_t bytes = 1 << 20;
    // The drive keeps about a gigabyte free beyond what it takes: its image is sparse.
    const long megabytes = 64 + files * 2;
    {
        bench::LoopVolume home(folder + "/home.img", folder + "/home", megabytes);
        bench::LoopVolume drive(folder + "/drive.img", folder + "/drive", 1536 + megabytes);
        if (!home.mounted || !drive.mounted) {
            std::printf("run on ext4: skipped, %s\n", !home.mounted ? home.why.c_str() : drive.why.c_str());
        } else {
            World world("ext4", folder);
            runOfFiles(world, files, records, bytes, "1 MiB files on ext4 loop volumes");
        }
    }
    std::error_code ignored;
    fs::remove_all(folder, ignored);
}

void scanOfEntries(long entries, long records) {
    World world("scan");
    seedJournal(world, records);
    long made = 0;
    for (long folder = 0; made < entries; ++folder) {
        const std::string path = world.home + "/Downloads/f" + std::to_string(folder / 100) + "/g" + std::to_string(folder);
        fs::create_directories(path);
        made += 1;
        for (int i = 0; i < 49 && made < entries; ++i, ++made) writeSmallFile(path + "/e" + std::to_string(i));
    }
    auto model = world.model();
    refreshAndWait(*model);
    GapMeter meter;
    bool finished = false;
    std::optional<ScanFindings> found;
    QElapsedTimer wall;
    wall.start();
    meter.start();
    // The automatic check's scan: the journal's failures are read, then the folders walked.
    model->checks().findings(INT64_MAX, [&](std::optional<ScanFindings> findings) {
        found = std::move(findings);
        finished = true;
    });
    spin([&] { return finished; });
    meter.stop();
    std::printf("scan of %ld entries beside %ld records: %zu planned in %.1f s; %s; load %s\n", entries, records,
                found ? found->plan.items.size() : size_t{0}, wall.elapsed() / 1000.0,
                meter.text().c_str(), loadAverage().c_str());
}

void startUpWithRecords(long records) {
    World world("start");
    seedJournal(world, records);
    std::vector<double> times;
    for (int round = 0; round < 6; ++round) {
        QElapsedTimer wall;
        wall.start();
        auto model = world.model();
        model->start();
        const MenuStatus status = statusText(model->state());
        const double ms = wall.nsecsElapsed() / 1e6;
        if (round > 0) times.push_back(ms);  // the first warms the caches
        if (round == 5) std::printf("first status: \"%s\"\n", status.headline.c_str());
        bool idle = false;
        while (!idle) {
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
            idle = model->state().activity == Activity::idle;
        }
    }
    std::sort(times.begin(), times.end());
    std::printf("start-up to first status with %ld records: median %.1f ms, worst %.1f ms (goal < 300); load %s\n",
                records, times[times.size() / 2], times.back(), loadAverage().c_str());
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    std::setvbuf(stdout, nullptr, _IOLBF, 0);  // each figure as soon as it is known
    const long records = sizeFromEnvironment("KELDWICK_MODEL_RECORDS", 10'000);
    startUpWithRecords(records);
    scanOfEntries(sizeFromEnvironment("KELDWICK_MODEL_ENTRIES", 200'000), records);
    runOfSmallFiles(sizeFromEnvironment("KELDWICK_MODEL_FILES", 1'000), records);
    runOnExt4(sizeFromEnvironment("KELDWICK_MODEL_EXT4_FILES", 200), records);
    std::printf("scan tree made in %s\n", benchRoot().c_str());
    return 0;
}
