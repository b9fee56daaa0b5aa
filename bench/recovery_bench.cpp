// Start-up recovery of many moves and restores cut short in mixed phases, over a real
// journal, a computer folder and a folder standing in for the drive. Half of the records
// need only journal work; the other half need work on files (a partial copy or a copy to
// delete, an original set aside to delete, a displaced folder, a restored item whose
// drive copy goes, a link to make again). The peer, timed in the same run, is the work on
// files no recovery can skip, done as recovery must do it: `openssl dgst -sha256` over
// copies of the very files recovery hashes, then `rm` of copies of the items recovery
// deletes and `sync` of the folders they were in, as recovery flushes the folders whose
// entries it removed. The peer works on copies
// made for it beside them, so either side may go first: the order alternates from round
// to round. Both sides read from the medium: every page is written back and the pages of
// the files to hash dropped before each side runs. Each round stages its world afresh.
// Also times a second recovery over the settled journal, the cost every later start pays.
// Prints each round with the load average, then the medians and spreads over the rounds,
// per record too, the bytes recovery read, and one ratio: recovery's time over the
// peer's (below 1: recovery is faster; the goal is at most 1).
//
// KELDWICK_BENCH_RECORDS (default 10000) and KELDWICK_BENCH_ROUNDS (default and least 3) change the
// sizes; TMPDIR picks the folder (put it on the disk to measure).

#include <fcntl.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "drives/DriveLayout.h"
#include "drives/FolderDriveLocator.h"
#include "engine/FileCopier.h"
#include "engine/OffloadEngine.h"
#include "foundation/Checksum.h"
#include "foundation/DriveManifest.h"
#include "foundation/FileOps.h"
#include "foundation/Journal.h"
#include "foundation/OpenFileChecking.h"
#include "foundation/TreeManifest.h"

using namespace keldwick;
using SteadyClock = std::chrono::steady_clock;

namespace {

const char* const driveID = "5D1C2B8A-0F3E-4A7B-9C6D-2E1F0A9B8C7D";

long fromEnvironment(const char* name, long fallback) {
    const char* value = std::getenv(name);
    return value && *value ? std::strtol(value, nullptr, 10) : fallback;
}

double seconds(const std::function<void()>& work) {
    auto start = SteadyClock::now();
    work();
    return std::chrono::duration<double>(SteadyClock::now() - start).count();
}

void writeFile(const std::string& path, std::string_view bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(bytes.data(), std::streamsize(bytes.size()));
    if (!out) {
        std::fprintf(stderr, "couldn't write %s\n", path.c_str());
        std::exit(1);
    }
}

void link(const std::string& target, const std::string& at) { std::filesystem::create_symlink(target, at); }

// The bytes this process has read through read(2) and its kin so far.
double bytesReadSoFar() {
    std::ifstream io("/proc/self/io");
    std::string key;
    double value = 0;
    while (io >> key >> value)
        if (key == "rchar:") return value;
    return 0;
}

// The processor time this process has used so far, in seconds: in itself and in the kernel.
std::pair<double, double> processorSeconds() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    auto inSeconds = [](const timeval& t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
    return {inSeconds(usage.ru_utime), inSeconds(usage.ru_stime)};
}

// Where each record's road was cut, and what lies on disk because of it.
enum class Kind {
    // Journal work only.
    restoreStarted,             // a restore recorded, the link still in place
    restoreStartedLinkDeleted,  // the same, the link since deleted
    restoreStartedLinkReplaced, // the same, an app saved a new file over the link
    verifiedOriginalDeleted,    // a checked copy on the drive, the original since deleted
    moveStarted,                // a move recorded, nothing copied yet
    // Work on files.
    partialCopy,      // a copy cut short on the drive
    verifiedCopy,     // a checked copy on the drive, the link not yet made
    originalAside,    // the link swapped in, the original set aside beside it
    displacedFolder,  // a folder's link in place, the folder set aside
    restoredInPlace,  // a restored file in place, its drive copy still there
    linkToMakeAgain,  // the link swapped in, then deleted
};
constexpr int journalKinds = 5;
constexpr int fileKinds = 6;

Kind kindOf(long index) {
    // Interleaved, as the journal holds them in the order the items were started.
    return index % 2 == 0 ? Kind(index / 2 % journalKinds) : Kind(journalKinds + index / 2 % fileKinds);
}

bool isRestore(Kind kind) {
    return kind == Kind::restoreStarted || kind == Kind::restoreStartedLinkDeleted ||
           kind == Kind::restoreStartedLinkReplaced || kind == Kind::restoredInPlace;
}

struct Staged {
    std::string folder;
    std::string computer;
    std::string drive;
    std::string journalPath;
    std::vector<std::string> hashed;  // the files recovery must read to check them
    double hashedBytes = 0;
    std::vector<std::string> deleted;  // the items it must delete
};

// A journal and two folders as a power cut in the middle of `count` operations leaves them.
Staged stage(const std::string& base, long count, const EngineConfiguration& configuration) {
    Staged world;
    world.folder = base;
    world.computer = base + "/computer";
    world.drive = base + "/drive";
    world.journalPath = base + "/journal/journal.sqlite";
    createDirectory(world.drive);
    auto journal = Journal::open(world.journalPath);

    std::mt19937 sizes(11);
    std::string pool(1 << 20, '\0');
    {
        std::mt19937_64 generator(5);
        for (size_t i = 0; i + 8 <= pool.size(); i += 8) {
            const uint64_t v = generator();
            std::memcpy(&pool[i], &v, 8);
        }
    }
    auto bytesFor = [&](long index) {
        const size_t size = 1024 + sizes() % (15 * 1024);
        return std::string_view(pool).substr(size_t(index) * 4099 % (pool.size() - size), size);
    };
    auto mustHash = [&](const std::string& path, size_t size) {
        world.hashed.push_back(path);
        world.hashedBytes += double(size);
    };
    auto mustDelete = [&](const std::string& path) { world.deleted.push_back(path); };
    const FileCopier copier(configuration.chunkSize);
    std::vector<DriveManifest::Entry> manifest;

    journal->transaction([&] {
        for (long i = 0; i < count; ++i) {
            const Kind kind = kindOf(i);
            const std::string folder = world.computer + "/Documents/d" + std::to_string(i / 100);
            if (i % 100 == 0) createDirectory(folder);
            const bool isFolder = kind == Kind::displacedFolder;
            const std::string original = folder + "/item-" + std::to_string(i) + (isFolder ? "" : ".dat");

            NewRecord newRecord;
            newRecord.originalPath = original;
            newRecord.driveID = driveID;
            newRecord.driveRelativePath =
                DriveLayout::relativePath(original, configuration.machineFolder, DriveLayout::folderName());
            newRecord.isDirectory = isFolder;
            const std::string drivePath = world.drive + "/" + newRecord.driveRelativePath;
            if (i % 100 == 0) createDirectory(std::filesystem::path(drivePath).parent_path());

            if (isFolder) {
                const auto a = bytesFor(i), b = bytesFor(i + 1);
                createDirectory(drivePath + "/sub");
                writeFile(drivePath + "/a.txt", a);
                writeFile(drivePath + "/sub/b.txt", b);
                auto entries = copier.hashedEntries(drivePath, {});
                newRecord.size = int64_t(a.size() + b.size());
                newRecord.checksum = TreeManifest{entries}.digest();
                newRecord.phase = Phase::offloadCleanup;
                const auto record = journal->insert(newRecord, entries);
                const std::string trash = temporaryPath(original, TemporaryKind::trash, record.id);
                createDirectory(trash + "/sub");
                writeFile(trash + "/a.txt", a);
                writeFile(trash + "/sub/b.txt", b);
                // The drive copy is checked whole before the set-aside folder may go.
                mustHash(drivePath + "/a.txt", a.size());
                mustHash(drivePath + "/sub/b.txt", b.size());
                mustHash(trash + "/a.txt", a.size());
                mustHash(trash + "/sub/b.txt", b.size());
                mustDelete(trash);
                link(drivePath, original);
                continue;
            }

            const auto bytes = bytesFor(i);
            newRecord.size = int64_t(bytes.size());
            const std::string checksum = Checksum::sha256(bytes);
            if (kind != Kind::moveStarted && kind != Kind::partialCopy) newRecord.checksum = checksum;
            switch (kind) {
                case Kind::restoreStarted:
                case Kind::restoreStartedLinkDeleted:
                case Kind::restoreStartedLinkReplaced: newRecord.phase = Phase::restoreCopying; break;
                case Kind::verifiedOriginalDeleted:
                case Kind::verifiedCopy: newRecord.phase = Phase::offloadVerified; break;
                case Kind::moveStarted:
                case Kind::partialCopy: newRecord.phase = Phase::offloadCopying; break;
                case Kind::originalAside:
                case Kind::linkToMakeAgain: newRecord.phase = Phase::offloadSwapping; break;
                case Kind::restoredInPlace: newRecord.phase = Phase::restoreSwapping; break;
                case Kind::displacedFolder: break;
            }
            const auto record = journal->insert(newRecord);
            if (kind == Kind::restoredInPlace) journal->setRestoreChecksum(record.id, checksum);
            if (isRestore(kind)) {
                DriveManifest::Entry entry;
                entry.machine = configuration.machineID;
                entry.originalPath = original;
                entry.relativePath = newRecord.driveRelativePath;
                entry.size = newRecord.size;
                entry.checksum = checksum;
                entry.date = record.createdAt;
                manifest.push_back(entry);
            }

            switch (kind) {
                case Kind::restoreStarted:
                    writeFile(drivePath, bytes);
                    link(drivePath, original);
                    break;
                case Kind::restoreStartedLinkDeleted:
                    writeFile(drivePath, bytes);
                    break;
                case Kind::restoreStartedLinkReplaced:
                    writeFile(drivePath, bytes);
                    writeFile(original, "a newer version saved by an app\n");
                    break;
                case Kind::verifiedOriginalDeleted:
                    writeFile(drivePath, bytes);
                    break;
                case Kind::moveStarted:
                    writeFile(original, bytes);
                    break;
                case Kind::partialCopy: {
                    const std::string partial = temporaryPath(drivePath, TemporaryKind::partial, record.id);
                    writeFile(original, bytes);
                    writeFile(partial, bytes.substr(0, bytes.size() / 2));
                    mustDelete(partial);
                    break;
                }
                case Kind::verifiedCopy:
                    writeFile(original, bytes);
                    writeFile(drivePath, bytes);
                    mustHash(drivePath, bytes.size());
                    mustDelete(drivePath);
                    break;
                case Kind::originalAside: {
                    const std::string aside = temporaryPath(original, TemporaryKind::link, record.id);
                    writeFile(aside, bytes);
                    writeFile(drivePath, bytes);
                    link(drivePath, original);
                    mustHash(aside, bytes.size());
                    mustHash(drivePath, bytes.size());  // checked whole before the original goes
                    mustDelete(aside);
                    break;
                }
                case Kind::restoredInPlace:
                    writeFile(original, bytes);
                    writeFile(drivePath, bytes);
                    mustHash(drivePath, bytes.size());
                    mustHash(original, bytes.size());
                    mustDelete(drivePath);
                    break;
                case Kind::linkToMakeAgain:
                    writeFile(drivePath, bytes);
                    break;
                case Kind::displacedFolder:
                    break;
            }
        }
    });

    // The restored items' moves had finished, so the drive's manifest lists them.
    const std::string manifestPath = DriveManifest{DriveLayout::appFolder(world.drive)}.path();
    createDirectory(std::filesystem::path(manifestPath).parent_path());
    std::string lines;
    for (const auto& entry : manifest) lines += DriveManifest::encode(entry) + "\n";
    writeFile(manifestPath, lines);
    ::sync();
    return world;
}

// The time `tool` takes over the paths, in as few processes as xargs needs.
double xargsOver(const std::string& folder, const std::vector<std::string>& paths, const std::string& tool) {
    const std::string list = folder + "/paths.list";
    {
        std::ofstream out(list, std::ios::binary);
        for (const auto& path : paths) out << path << '\0';
    }
    const std::string command = "xargs -0 -a '" + list + "' " + tool + " > /dev/null";
    double taken = seconds([&] {
        if (std::system(command.c_str()) != 0) {
            std::fprintf(stderr, "command failed: %s\n", command.c_str());
            std::exit(1);
        }
    });
    std::filesystem::remove(list);
    return taken;
}

// Writes back every dirty page, then drops the cached pages of the files, so that the
// next reader goes to the medium.
void dropPages(const std::vector<std::string>& paths) {
    ::sync();
    for (const auto& path : paths) {
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) continue;
        (void)::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
        ::close(fd);
    }
}

// Copies of the files recovery hashes and of the items it deletes, beside them, for the
// peer: its own to read and remove, whichever side goes first.
struct PeerWorld {
    std::vector<std::string> hashed, deleted;
};

PeerWorld copiesFor(const Staged& world) {
    PeerWorld peer;
    auto copyAll = [&](const std::vector<std::string>& paths, const char* kind, std::vector<std::string>& into) {
        for (const auto& path : paths) {
            into.push_back(world.folder + "/peer-" + kind + "/" + std::to_string(into.size() / 100) + "/" +
                           std::to_string(into.size()));
            if (into.size() % 100 == 1) createDirectory(std::filesystem::path(into.back()).parent_path());
            std::filesystem::copy(path, into.back(), std::filesystem::copy_options::recursive);
        }
    };
    copyAll(world.hashed, "hashed", peer.hashed);
    copyAll(world.deleted, "deleted", peer.deleted);
    return peer;
}

// openssl over the peer's files to hash, then rm of its items to delete and a flush of
// each folder they were in.
std::pair<double, double> runPeer(const Staged& world, const PeerWorld& peer) {
    const double hashing = xargsOver(world.folder, peer.hashed, "openssl dgst -sha256");
    std::set<std::string> folders;
    for (const auto& path : peer.deleted) folders.insert(std::filesystem::path(path).parent_path().string());
    const double removing = xargsOver(world.folder, peer.deleted, "rm -rf --") +
                            xargsOver(world.folder, {folders.begin(), folders.end()}, "sync --");
    return {hashing, removing};
}

// The machine's one-minute load average, as others' work shares the disk and processors.
double loadAverage() {
    std::ifstream in("/proc/loadavg");
    double load = 0;
    in >> load;
    return load;
}

struct Round {
    double recovery = 0;
    double settledAgain = 0;
    double peer = 0;
    double rmPeer = 0;
    double bytesRead = 0;
    double bytesHashed = 0;  // the files recovery must hash, each once
    double user = 0;
    double system = 0;
    double load = 0;
};

Round runRound(const std::string& base, long count, const EngineConfiguration& configuration, bool describe,
               bool peerFirst) {
    Staged world = stage(base, count, configuration);
    const PeerWorld peerWorld = copiesFor(world);
    Round round;
    round.bytesHashed = world.hashedBytes;
    auto peer = [&] {
        dropPages(peerWorld.hashed);
        std::tie(round.peer, round.rmPeer) = runPeer(world, peerWorld);
    };
    if (peerFirst) peer();
    dropPages(world.hashed);

    auto journal = Journal::open(world.journalPath);  // as at start-up: nothing cached
    OffloadEngine engine(journal, Drive{driveID, "Bench Drive"}, std::make_shared<FolderDriveLocator>(driveID, world.drive),
                         std::make_shared<ProcessOpenFileChecker>(), RuleList{}, std::make_shared<NoFaults>(),
                         std::make_shared<NoIconPlacing>(), configuration);
    engine.inhibitor = [](const std::string&) { return -1; };

    std::vector<RecoveryResult> results;
    round.load = loadAverage();
    const double readBefore = bytesReadSoFar();
    const auto processorBefore = processorSeconds();
    round.recovery = seconds([&] { results = engine.recover(); });
    const auto processorAfter = processorSeconds();
    round.user = processorAfter.first - processorBefore.first;
    round.system = processorAfter.second - processorBefore.second;
    round.bytesRead = bytesReadSoFar() - readBefore;

    std::set<Phase> inFlight;
    for (Phase phase : allPhases)
        if (isInFlight(phase)) inFlight.insert(phase);
    const auto unsettled = engine.records(inFlight);
    if (!unsettled.empty()) {
        std::fprintf(stderr, "%zu records still in flight after recovery (first: %s, %s)\n", unsettled.size(),
                     unsettled.front().originalPath.c_str(), std::string(toString(unsettled.front().phase)).c_str());
        std::exit(1);
    }
    round.settledAgain = seconds([&] {
        if (!engine.recover().empty()) {
            std::fprintf(stderr, "a second recovery still found work\n");
            std::exit(1);
        }
    });
    if (!peerFirst) peer();

    if (describe) {
        std::map<std::string, int> actions, phases;
        for (const auto& result : results) ++actions[std::string(toString(result.action))];
        for (const auto& record : journal->allRecords()) ++phases[std::string(toString(record.phase))];
        std::printf("staged %ld records (%ld needing journal work only), %zu files to hash (%.1f MB), "
                    "%zu items to delete\n",
                    count, (count + 1) / 2, world.hashed.size(), world.hashedBytes / 1e6, world.deleted.size());
        std::printf("results:");
        for (const auto& [action, n] : actions) std::printf(" %s %d", action.c_str(), n);
        std::printf("\nphases after:");
        for (const auto& [phase, n] : phases) std::printf(" %s %d", phase.c_str(), n);
        std::printf("\n");
    }
    std::filesystem::remove_all(base);
    return round;
}

}  // namespace

int main() {
    const char* tmp = std::getenv("TMPDIR");
    std::string folder = std::string(tmp && *tmp ? tmp : "/tmp") + "/keldwick-recovery-bench-XXXXXX";
    if (!mkdtemp(folder.data())) return 1;
    const long count = std::max(1L, fromEnvironment("KELDWICK_BENCH_RECORDS", 10000));
    const long roundCount = std::max(3L, fromEnvironment("KELDWICK_BENCH_ROUNDS", 3));

    EngineConfiguration configuration;
    configuration.machineID = "B3A1F6C2-7D4E-4F80-9A1B-6C5D4E3F2A10";
    configuration.machineFolder = "Bench Computer";
    configuration.homeFolder = folder;

    std::vector<Round> rounds;
    for (long r = 0; r < roundCount; ++r) {
        const bool peerFirst = r % 2 == 0;
        Round round = runRound(folder + "/round-" + std::to_string(r), count, configuration, r == 0, peerFirst);
        std::printf("round %ld (%s first, load %.2f): recovery %.3f s (%.1f us per record; processor %.3f s user, %.3f s "
                    "system; %.1f MB read, %.1f KB per record), settled journal again %.3f s; openssl dgst over the "
                    "hashed files %.3f s, rm of copies of the deleted items + sync %.3f s\n",
                    r + 1, peerFirst ? "peer" : "recovery", round.load, round.recovery, round.recovery / double(count) * 1e6, round.user,
                    round.system, round.bytesRead / 1e6, round.bytesRead / double(count) / 1e3, round.settledAgain,
                    round.peer, round.rmPeer);
        rounds.push_back(round);
    }
    auto medianOf = [&](auto field) {
        std::vector<double> values;
        for (const auto& round : rounds) values.push_back(field(round));
        std::sort(values.begin(), values.end());
        return std::array<double, 3>{values[values.size() / 2], values.front(), values.back()};
    };
    const auto ours = medianOf([](const Round& r) { return r.recovery; });
    const auto peer = medianOf([](const Round& r) { return r.peer + r.rmPeer; });
    const auto read = medianOf([](const Round& r) { return r.bytesRead; });
    const auto again = medianOf([](const Round& r) { return r.settledAgain; });
    const double perRecord = 1e6 / double(count);
    std::printf("\nrecovery of %ld records, %ld alternated rounds (median, fastest-slowest):\n", count, roundCount);
    std::printf("  %-44s %.3f s (%.3f-%.3f), %.1f us per record, %.1f MB read (rchar: journal and every read call "
                "of the process) for %.1f MB of files to hash\n",
                "Keldwick's recovery", ours[0], ours[1], ours[2], ours[0] * perRecord, read[0] / 1e6,
                rounds.front().bytesHashed / 1e6);
    std::printf("  %-44s %.1f KB read for %.1f KB of files to hash\n", "per record", read[0] / double(count) / 1e3,
                rounds.front().bytesHashed / double(count) / 1e3);
    std::printf("  %-44s %.3f s (%.3f-%.3f), %.1f us per record\n", "peer: openssl + rm + sync, from the medium",
                peer[0], peer[1], peer[2], peer[0] * perRecord);
    std::printf("  time ratio %.2fx (Keldwick / peer; below 1: Keldwick is faster; goal <= 1.0x); load %.2f\n",
                ours[0] / peer[0], loadAverage());
    std::printf("  %-44s %.3f s (%.3f-%.3f), %.1f us per record\n", "a later start over the settled journal",
                again[0], again[1], again[2], again[0] * perRecord);
    std::filesystem::remove_all(folder);
    return 0;
}
