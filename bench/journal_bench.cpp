// Journal commits against the sqlite3 shell doing one-row transactions in the same
// WAL/FULL mode in the same folder, reading every one of 100,000 records (what a refresh
// and start-up recovery read) against the shell selecting the same rows, and file hashing against `openssl dgst -sha256`, both
// reading the file from the medium (its pages dropped before each side). The sides take
// turns within every iteration; each benchmark runs three repetitions (or as many as
// --benchmark_repetitions asks), and the summary prints each side's median and spread
// over them and the ratio of Keldwick's time to the peer's (below 1: Keldwick is faster).

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <string>

#include "foundation/Clock.h"
#include "foundation/Checksum.h"
#include "foundation/Journal.h"

using namespace keldwick;
using SteadyClock = std::chrono::steady_clock;

namespace {

std::string benchFolder() {
    static const std::string folder = [] {
        const char* base = std::getenv("TMPDIR");
        std::string pattern = std::string(base && *base ? base : "/tmp") + "/keldwick-bench-XXXXXX";
        if (!mkdtemp(pattern.data())) std::abort();
        return pattern;
    }();
    return folder;
}

std::string runCommand(const std::string& command) {
    std::string output;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) std::abort();
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, n);
    if (pclose(pipe) != 0) {
        std::fprintf(stderr, "command failed: %s\n", command.c_str());
        std::abort();
    }
    return output;
}

// One item along the offload road: an insert and four phase changes, five commits.
constexpr int commitsPerItem = 5;
constexpr int commitsPerRound = 1000;

// The journal and the shell take turns, a batch of commits each, so that both see the
// same disk and the same load from other processes; the ratio is what matters.
void JournalVsShellCommits(benchmark::State& state) {
    const auto journalPath = benchFolder() + "/journal.sqlite";
    const auto shellPath = benchFolder() + "/shell.sqlite";
    const auto script = benchFolder() + "/shell.sql";
    {
        // A persistent WAL, so that the shell's log is reused from one run to the next
        // like the long-lived journal's, rather than grown from nothing each time.
        std::ofstream out(script);
        out << ".filectrl persist_wal 1\nPRAGMA journal_mode = WAL;\nPRAGMA synchronous = FULL;\n"
               "CREATE TABLE IF NOT EXISTS t (id INTEGER PRIMARY KEY AUTOINCREMENT, phase TEXT, at REAL);\n";
        for (int i = 0; i < commitsPerRound; ++i) {
            out << "BEGIN IMMEDIATE; INSERT INTO t (phase, at) VALUES ('offloaded', julianday('now')); COMMIT;\n";
        }
    }
    Journal journal(journalPath, Clock::system());
    NewRecord item;
    item.originalPath = "/home/u/Documents/old.mov";
    item.driveID = "DRIVE";
    item.driveRelativePath = "Keldwick/Mac/home/u/Documents/old.mov";
    item.size = 1 << 30;
    runCommand("sqlite3 '" + shellPath + "' < '" + script + "' > /dev/null");  // warm up

    double journalSeconds = 0, shellSeconds = 0;
    for (auto _ : state) {
        auto start = SteadyClock::now();
        for (int i = 0; i < commitsPerRound / commitsPerItem; ++i) {
            auto record = journal.insert(item);
            journal.markVerified(record.id, std::string(64, 'a'), std::nullopt);
            journal.setPhase(record.id, Phase::offloadSwapping);
            journal.setPhase(record.id, Phase::offloadCleanup);
            journal.setPhase(record.id, Phase::offloaded);
        }
        const double journalRound = std::chrono::duration<double>(SteadyClock::now() - start).count();
        start = SteadyClock::now();
        runCommand("sqlite3 '" + shellPath + "' < '" + script + "' > /dev/null");
        const double shellRound = std::chrono::duration<double>(SteadyClock::now() - start).count();
        journalSeconds += journalRound;
        shellSeconds += shellRound;
        state.SetIterationTime(journalRound + shellRound);
    }
    // Seconds per round of commits, for the summary.
    const double iterations = double(state.iterations());
    state.counters["ours_s"] = journalSeconds / iterations;
    state.counters["peer_s"] = shellSeconds / iterations;
}

constexpr int readRecordCount = 100'000;

// A journal of readRecordCount moved files, written once.
const std::string& readJournal() {
    static const std::string path = [] {
        std::string file = benchFolder() + "/read.sqlite";
        Journal journal(file, Clock::system());
        const Date now = Clock::system()->now();
        journal.transaction([&] {
            for (int i = 0; i < readRecordCount; ++i) {
                const std::string name = "item-" + std::to_string(i) + ".bin";
                journal.insert(NewRecord{"/home/u/Downloads/" + name, "6F1C2A5E-0000-4000-8000-00000000BE4C",
                                         "Keldwick/Downloads/" + name, false, 1'000'000 + i,
                                         now.adding(-100.0 * 86'400), Phase::offloaded, std::string(64, 'a'),
                                         now.adding(-double(readRecordCount - i))});
            }
        });
        return file;
    }();
    return path;
}

// Both read every row in id order: the journal into records, the shell into its text
// (thrown away). The shell's time includes its start, a few milliseconds.
void JournalVsShellReadAll(benchmark::State& state) {
    const auto& path = readJournal();
    Journal journal(path, Clock::system());
    const std::string command = "sqlite3 -readonly '" + path + "' 'SELECT * FROM records ORDER BY id' > /dev/null";
    runCommand(command);  // warm up: both read from the page cache
    double journalSeconds = 0, shellSeconds = 0;
    for (auto _ : state) {
        auto start = SteadyClock::now();
        const auto records = journal.allRecords();
        const double ours = std::chrono::duration<double>(SteadyClock::now() - start).count();
        if (records.size() != size_t(readRecordCount)) state.SkipWithError("the journal read the wrong count");
        start = SteadyClock::now();
        runCommand(command);
        const double peer = std::chrono::duration<double>(SteadyClock::now() - start).count();
        journalSeconds += ours;
        shellSeconds += peer;
        state.SetIterationTime(ours + peer);
    }
    const double iterations = double(state.iterations());
    state.counters["ours_s"] = journalSeconds / iterations;
    state.counters["peer_s"] = shellSeconds / iterations;
}

constexpr size_t hashFileSize = 64 << 20;

const std::string& hashFile() {
    static const std::string path = [] {
        std::string file = benchFolder() + "/hash.bin";
        std::mt19937_64 generator(7);
        std::string bytes(hashFileSize, '\0');
        for (size_t i = 0; i + 8 <= bytes.size(); i += 8) {
            const uint64_t v = generator();
            std::memcpy(&bytes[i], &v, 8);
        }
        std::ofstream(file, std::ios::binary) << bytes;
        return file;
    }();
    return path;
}

void dropPages(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) std::abort();
    (void)::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
    ::close(fd);
}

// sha256OfFile drops the pages it has hashed, so both sides read from the medium.
void ChecksumVsOpensslDgst(benchmark::State& state) {
    const auto& path = hashFile();
    ::sync();
    const auto expected = Checksum::sha256OfFile(path, Checksum::defaultChunkSize);
    double oursSeconds = 0, peerSeconds = 0;
    for (auto _ : state) {
        dropPages(path);
        auto start = SteadyClock::now();
        benchmark::DoNotOptimize(Checksum::sha256OfFile(path, Checksum::defaultChunkSize));
        const double ours = std::chrono::duration<double>(SteadyClock::now() - start).count();
        dropPages(path);
        start = SteadyClock::now();
        const auto output = runCommand("openssl dgst -sha256 -r '" + path + "'");
        const double peer = std::chrono::duration<double>(SteadyClock::now() - start).count();
        if (output.compare(0, 64, expected) != 0) state.SkipWithError("openssl disagrees on the digest");
        oursSeconds += ours;
        peerSeconds += peer;
        state.SetIterationTime(ours + peer);
    }
    const double iterations = double(state.iterations());
    state.counters["ours_s"] = oursSeconds / iterations;
    state.counters["peer_s"] = peerSeconds / iterations;
}

BENCHMARK(JournalVsShellCommits)->Unit(benchmark::kMillisecond)->UseManualTime()->MinTime(3.0)->Repetitions(3);
BENCHMARK(JournalVsShellReadAll)->Unit(benchmark::kMillisecond)->UseManualTime()->MinTime(2.0)->Repetitions(3);
BENCHMARK(ChecksumVsOpensslDgst)->Unit(benchmark::kMillisecond)->UseManualTime()->MinTime(2.0)->Repetitions(3);

// Keeps each repetition's seconds per iteration of both sides (the aggregates the
// library adds, mean, median and deviation, are left out: their counters are
// statistics of the rates, not rates).
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const auto& run : runs) {
            if (run.run_type != Run::RT_Iteration || run.error_occurred) continue;
            auto ours = run.counters.find("ours_s"), peer = run.counters.find("peer_s");
            if (ours == run.counters.end() || peer == run.counters.end()) continue;
            auto& [oursTimes, peerTimes] = seconds[run.run_name.function_name];
            oursTimes.push_back(ours->second.value);
            peerTimes.push_back(peer->second.value);
        }
    }
    std::map<std::string, std::pair<std::vector<double>, std::vector<double>>> seconds;
};

double medianOf(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// Prints work per second of each side (median, and the slowest to the fastest
// repetition) and the ratio of Keldwick's median time to the peer's.
void printRatio(const RatioReporter& reporter, const char* benchmarkName, const char* what, double work,
                const char* unit) {
    auto found = reporter.seconds.find(benchmarkName);
    if (found == reporter.seconds.end() || found->second.first.empty()) {
        std::printf("%-44s not run\n", what);
        return;
    }
    const auto& [ours, peer] = found->second;
    auto line = [&](const char* side, const std::vector<double>& times) {
        const auto [fastest, slowest] = std::minmax_element(times.begin(), times.end());
        std::printf("  %-10s median %10.0f %s per second (%.0f-%.0f, n=%zu)\n", side, work / medianOf(times), unit,
                    work / *slowest, work / *fastest, times.size());
    };
    std::printf("%s\n", what);
    line("Keldwick", ours);
    line("peer", peer);
    std::printf("  time ratio %.2fx (Keldwick / peer; below 1: Keldwick is faster)\n", medianOf(ours) / medianOf(peer));
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    std::printf("\n");
    printRatio(reporter, "JournalVsShellCommits", "journal commits vs the sqlite3 shell (WAL, synchronous=FULL)",
               commitsPerRound, "commits");
    printRatio(reporter, "JournalVsShellReadAll", "reading 100,000 records vs the sqlite3 shell selecting them",
               readRecordCount, "records");
    printRatio(reporter, "ChecksumVsOpensslDgst", "file SHA-256 vs openssl dgst, both from the medium",
               double(hashFileSize) / 1e6, "MB");
    if (FILE* load = std::fopen("/proc/loadavg", "r")) {
        double one = 0, five = 0, fifteen = 0;
        if (std::fscanf(load, "%lf %lf %lf", &one, &five, &fifteen) == 3)
            std::printf("load average %.2f %.2f %.2f\n", one, five, fifteen);
        std::fclose(load);
    }
    std::filesystem::remove_all(benchFolder());
    benchmark::Shutdown();
    return 0;
}
