// A move's cost per item must not grow with the journal: the same 200 small files are
// moved by one engine run into a journal that already holds 1,000, 10,000 and 100,000
// records of the same drive, and the milliseconds per item are printed for each, with
// the 100,000/1,000 ratio (the goal: at most 1.2x). Nor must a restore's: the 200 moved
// files are then brought back one operation each, as the program brings back a
// selection, and the same figures are printed for that. The journal is a real SQLite file in
// write-ahead mode with full synchronous commits, as the program keeps it; each scale
// starts from a fresh copy of its seeded journal, and the median of five alternating
// rounds counts (each move waits for the disk several times; the machine may be shared).
//
// KELDWICK_SCALING_FILES changes the item count; TMPDIR picks the folder (default /tmp).

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
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "foundation/Clock.h"
#include "drives/DriveLayout.h"
#include "drives/FolderDriveLocator.h"
#include "engine/OffloadEngine.h"
#include "foundation/Journal.h"

using namespace keldwick;
namespace fs = std::filesystem;
using SteadyClock = std::chrono::steady_clock;

namespace {

const Drive drive{"5A3B9C1D-0000-4000-8000-00000000A11E", "Scaling"};
constexpr const char* machineFolder = "Bench Machine";

long fromEnvironment(const char* name, long fallback) {
    const char* value = std::getenv(name);
    const long parsed = value && *value ? std::strtol(value, nullptr, 10) : 0;
    return parsed > 0 ? parsed : fallback;
}

// A journal of `count` items of the drive, moved earlier from another folder of the home.
void seed(const std::string& path, const std::string& home, long count) {
    Journal journal(path, Clock::system());
    const Date now = Clock::system()->now();
    journal.transaction([&] {
        for (long i = 0; i < count; ++i) {
            const std::string original = home + "/Archive/" + std::to_string(i / 1000) + "/item-" + std::to_string(i) + ".bin";
            NewRecord record{original, drive.id,
                             DriveLayout::relativePath(original, machineFolder, DriveLayout::folderName()), false,
                             4096, now.adding(-400.0 * 86'400), Phase::offloaded, std::string(64, 'a'),
                             now.adding(-static_cast<double>(count - i))};
            journal.insert(record);
        }
    });
}

struct PerItem {
    double move = 0;
    double restore = 0;
};

// Seconds per item of one run moving `files` small files into a copy of `seeded`, and of
// bringing each back afterwards.
PerItem secondsPerItem(const std::string& folder, const std::string& seeded, long files) {
    const std::string world = folder + "/world";
    fs::remove_all(world);
    const std::string home = world + "/home", root = world + "/drive", support = world + "/support";
    fs::create_directories(home + "/Documents");
    fs::create_directories(root);
    fs::create_directories(support);
    for (const char* suffix : {"", "-wal", "-shm"})
        if (fs::exists(seeded + suffix)) fs::copy_file(seeded + suffix, support + "/journal.sqlite" + suffix);

    // Files last changed a year ago; the candidates dated now, as a scan would.
    const time_t yearAgo = time(nullptr) - 365 * 86'400;
    const timespec times[2] = {{yearAgo, 0}, {yearAgo, 0}};
    OffloadPlan plan;
    const std::string bytes(4096, 'k');
    for (long i = 0; i < files; ++i) {
        const std::string path = home + "/Documents/file-" + std::to_string(i) + ".txt";
        std::ofstream(path, std::ios::binary) << bytes;
        utimensat(AT_FDCWD, path.c_str(), times, 0);
        plan.items.emplace_back(path, false, 4096, 1, Clock::system()->now().adding(60), LastUsedSource::modificationDate);
        plan.bytesNeeded += 4096;
    }

    EngineConfiguration configuration;
    configuration.machineID = "bench-machine";
    configuration.machineFolder = machineFolder;
    configuration.homeFolder = home;
    configuration.driveReserveBytes = 0;
    configuration.computerReserveBytes = 0;
    auto journal = Journal::open(support + "/journal.sqlite", Clock::system());
    OffloadEngine engine(journal, drive, std::make_shared<FolderDriveLocator>(drive.id, root), nullptr, {},
                         std::make_shared<NoFaults>(), nullptr, configuration);
    engine.inhibitor = [](const std::string&) { return -1; };

    const auto start = SteadyClock::now();
    const RunSummary summary = engine.run(plan, false);
    const double elapsed = std::chrono::duration<double>(SteadyClock::now() - start).count();
    if (static_cast<long>(summary.completed.size()) != files) {
        std::fprintf(stderr, "moved %zu of %ld files%s%s\n", summary.completed.size(), files,
                     summary.failures.empty() ? "" : ": ",
                     summary.failures.empty() ? "" : summary.failures.front().message.c_str());
        std::exit(1);
    }
    std::vector<int64_t> ids;
    for (const auto& path : summary.completed)
        for (const auto& record : journal->activeRecords(path)) ids.push_back(record.id);
    const auto restoreStart = SteadyClock::now();
    for (int64_t id : ids) {
        if (engine.restore(id).phase != Phase::restored) {
            std::fprintf(stderr, "record %lld wasn't restored\n", static_cast<long long>(id));
            std::exit(1);
        }
    }
    const double restoring = std::chrono::duration<double>(SteadyClock::now() - restoreStart).count();
    if (static_cast<long>(ids.size()) != files) {
        std::fprintf(stderr, "found %zu of %ld moved files' records\n", ids.size(), files);
        std::exit(1);
    }
    return {elapsed / static_cast<double>(files), restoring / static_cast<double>(files)};
}

}  // namespace

int main() {
    const char* base = std::getenv("TMPDIR");
    std::string folder = std::string(base && *base ? base : "/tmp") + "/keldwick-scaling-bench-XXXXXX";
    if (!mkdtemp(folder.data())) return 1;
    const long files = fromEnvironment("KELDWICK_SCALING_FILES", 200);
    const std::vector<long> scales = {1'000, 10'000, 100'000};

    // The seeded journals name originals under the world's home, made at the same path.
    std::map<long, std::string> seeded;
    for (long count : scales) {
        seeded[count] = folder + "/seed-" + std::to_string(count) + ".sqlite";
        seed(seeded[count], folder + "/world/home", count);
    }

    std::map<long, std::vector<double>> moves, restores;
    for (int round = 0; round < 5; ++round)
        for (long count : scales) {
            const PerItem perItem = secondsPerItem(folder, seeded[count], files);
            moves[count].push_back(perItem.move);
            restores[count].push_back(perItem.restore);
        }
    auto medianOf = [](std::vector<double> times) {
        std::sort(times.begin(), times.end());
        return times[times.size() / 2];
    };
    for (const auto& [what, rounds] : {std::pair{"moved", &moves}, std::pair{"restored", &restores}}) {
        std::map<long, double> median;
        for (const auto& [count, times] : *rounds) median[count] = medianOf(times);
        for (long count : scales)
            std::printf("%ld files %-8s with %6ld records in the journal: %7.3f ms per item\n", files, what, count,
                        median[count] * 1e3);
        std::printf("%s: 100k/1k ratio %.2fx (goal: at most 1.20x)\n", what, median[100'000] / median[1'000]);
    }
    fs::remove_all(folder);
    return 0;
}
