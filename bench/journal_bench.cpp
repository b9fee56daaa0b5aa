// Journal commits against the sqlite3 shell doing one-row transactions in the same
// WAL/FULL mode in the same folder, and file hashing against `openssl dgst -sha256`.
// Prints each peer pair as a ratio (above 1: Keldwick is faster).

#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <string>

#include "foundation/Checksum.h"
#include "foundation/Journal.h"

using namespace keldwick;
using Clock = std::chrono::steady_clock;

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
    Journal journal(journalPath);
    NewRecord item;
    item.originalPath = "/home/u/Documents/old.mov";
    item.driveID = "DRIVE";
    item.driveRelativePath = "Keldwick/Mac/home/u/Documents/old.mov";
    item.size = 1 << 30;
    runCommand("sqlite3 '" + shellPath + "' < '" + script + "' > /dev/null");  // warm up

    double journalSeconds = 0, shellSeconds = 0;
    for (auto _ : state) {
        auto start = Clock::now();
        for (int i = 0; i < commitsPerRound / commitsPerItem; ++i) {
            auto record = journal.insert(item);
            journal.markVerified(record.id, std::string(64, 'a'), std::nullopt);
            journal.setPhase(record.id, Phase::offloadSwapping);
            journal.setPhase(record.id, Phase::offloadCleanup);
            journal.setPhase(record.id, Phase::offloaded);
        }
        const double journalRound = std::chrono::duration<double>(Clock::now() - start).count();
        start = Clock::now();
        runCommand("sqlite3 '" + shellPath + "' < '" + script + "' > /dev/null");
        const double shellRound = std::chrono::duration<double>(Clock::now() - start).count();
        journalSeconds += journalRound;
        shellSeconds += shellRound;
        state.SetIterationTime(journalRound + shellRound);
    }
    const double commits = double(state.iterations()) * commitsPerRound;
    state.counters["journal_commits_per_s"] = commits / journalSeconds;
    state.counters["shell_commits_per_s"] = commits / shellSeconds;
    state.counters["ratio"] = shellSeconds / journalSeconds;
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

void ChecksumOfFile(benchmark::State& state) {
    const auto& path = hashFile();
    for (auto _ : state) benchmark::DoNotOptimize(Checksum::sha256OfFile(path, Checksum::defaultChunkSize));
    state.SetBytesProcessed(state.iterations() * int64_t(hashFileSize));
}

void OpensslDgst(benchmark::State& state) {
    const auto& path = hashFile();
    const auto expected = Checksum::sha256OfFile(path, Checksum::defaultChunkSize);
    for (auto _ : state) {
        const auto start = Clock::now();
        const auto output = runCommand("openssl dgst -sha256 -r '" + path + "'");
        state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
        if (output.compare(0, 64, expected) != 0) state.SkipWithError("openssl disagrees on the digest");
    }
    state.SetBytesProcessed(state.iterations() * int64_t(hashFileSize));
}

BENCHMARK(JournalVsShellCommits)->Unit(benchmark::kMillisecond)->UseManualTime()->MinTime(3.0);
BENCHMARK(ChecksumOfFile)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(OpensslDgst)->Unit(benchmark::kMillisecond)->UseManualTime();

// Keeps each benchmark's throughput so that the pairs can be compared at the end.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const auto& run : runs) {
            for (const char* counter : {"bytes_per_second", "journal_commits_per_s", "shell_commits_per_s"}) {
                auto it = run.counters.find(counter);
                if (it == run.counters.end()) continue;
                const std::string name = run.run_name.function_name;
                rates[counter == std::string("bytes_per_second") ? name : counter] = it->second.value;
            }
        }
    }
    std::map<std::string, double> rates;
};

void printRatio(const RatioReporter& reporter, const char* ours, const char* peer, const char* what) {
    auto a = reporter.rates.find(ours), b = reporter.rates.find(peer);
    if (a == reporter.rates.end() || b == reporter.rates.end() || b->second <= 0) return;
    std::printf("%-44s %8.0f vs %8.0f per second  ratio %.2fx\n", what, a->second, b->second, a->second / b->second);
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    std::printf("\n");
    printRatio(reporter, "journal_commits_per_s", "shell_commits_per_s", "journal commits vs sqlite3 shell");
    printRatio(reporter, "ChecksumOfFile", "OpensslDgst", "file SHA-256 (bytes) vs openssl dgst");
    std::filesystem::remove_all(benchFolder());
    benchmark::Shutdown();
    return 0;
}
