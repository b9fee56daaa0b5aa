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
// KELDWICK_MODEL_RECORDS, KELDWICK_MODEL_ENTRIES and KELDWICK_MODEL_FILES change the
// sizes; KELDWICK_MODEL_TMP the folder the trees are made in (default /dev/shm).

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

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

// A kilobyte last used and changed a year ago, so the scan and the engine take it.
void writeSmallFile(const std::string& path) {
    {
        std::ofstream out(path, std::ios::binary);
        out << std::string(1024, 'k');
    }
    const timespec old{yearAgo, 0};
    const timespec times[2] = {old, old};
    utimensat(AT_FDCWD, path.c_str(), times, 0);
}

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
    void start() {
        longest_ = 0;
        ranInLongest_ = 0;
        longestRun_ = 0;
        last_ = -1;
        clock_.start();
        timer_.start(1);
    }
    void stop() { timer_.stop(); }

    std::string text() const {
        char line[200];
        std::snprintf(line, sizeof line,
                      "longest main-thread gap %.2f ms (goal < 16; the thread ran %.2f ms of it), "
                      "longest main-thread run between two ticks %.2f ms",
                      longest_ / 1e6, ranInLongest_ / 1e6, longestRun_ / 1e6);
        return line;
    }

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
            longestRun_ = std::max(longestRun_, cpu - lastCpu_);
        }
        last_ = now;
        lastCpu_ = cpu;
    }

    QTimer timer_;
    QElapsedTimer clock_;
    qint64 last_ = -1, lastCpu_ = 0;
    qint64 longest_ = 0, ranInLongest_ = 0, longestRun_ = 0;
};

// The trees live in memory (/dev/shm) unless KELDWICK_MODEL_TMP names a folder: what is
// measured is the model's main thread, not the disk's flushes, which on a shared virtual
// disk make a move of 10,000 files take an hour.
std::string benchRoot() {
    if (const char* folder = std::getenv("KELDWICK_MODEL_TMP")) return folder;
    if (fs::is_directory("/dev/shm")) return "/dev/shm";
    return fs::temp_directory_path().string();
}

struct World {
    std::string root, home, support, drive;
    Drive chosen;

    explicit World(const std::string& name) {
        root = benchRoot() + "/keldwick-model-bench-" + name + "-" + std::to_string(getpid());
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
        fs::remove_all(root, ignored);
    }

    std::unique_ptr<AppModel> model() const {
        AppServices services;
        services.preferences = std::make_shared<MemoryPreferences>();
        return std::make_unique<AppModel>(
            AppEnvironment{home, support, std::make_shared<FolderDriveLocator>(chosen.id, drive), false},
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

void runOfSmallFiles(long files, long records) {
    World world("run");
    seedJournal(world, std::max(0L, records - files));
    OffloadPlan plan;
    for (long i = 0; i < files; ++i) {
        const std::string folder = world.home + "/Downloads/batch" + std::to_string(i / 1000);
        if (i % 1000 == 0) fs::create_directories(folder);
        Candidate item;
        item.path = folder + "/file" + std::to_string(i) + ".bin";
        writeSmallFile(item.path);
        item.size = 1024;
        item.driveSize = 1024;
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
    meter.start();
    model->performEngineOperation<RunSummary>(
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
    std::printf("run of %ld small files, then settled with %zu records listed: moved %zu, failed %zu in %.1f s; %s; "
                "load %s\n",
                files, model->state().records.size(), summary.completed.size(), summary.failures.size(),
                wall.elapsed() / 1000.0, meter.text().c_str(), loadAverage().c_str());
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
    model->findings(INT64_MAX, [&](std::optional<ScanFindings> findings) {
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
    std::printf("trees made in %s\n", benchRoot().c_str());
    return 0;
}
