#pragma once
// The speed test: sequential write and read speed and the latency of small random reads,
// measured with a temporary file in the program's folder on the drive. Every descriptor
// bypasses the page cache (O_DIRECT; where the file system refuses it, the cached pages
// are dropped with posix_fadvise before each read phase) so the test measures the drive,
// not memory.

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "drives/BenchmarkResult.h"
#include "foundation/CancellationFlag.h"
#include "foundation/Clock.h"

namespace keldwick {

// The drive has no room for the test's file: what() is the sentence the user reads.
class DriveBenchmarkNoRoom : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct DriveBenchmark {
    int64_t maxBytes = 512 << 20;  // the write phase never writes more
    int64_t minBytes = 64 << 20;   // written and read at least, whatever the time
    double writeBudget = 4.0;      // seconds; past minBytes, writing stops after this
    double readBudget = 4.0;       // seconds; past minBytes, reading stops after this
    int randomSamples = 96;        // random 4,096-byte reads
    int chunkSize = 8 << 20;       // each sequential write and read
    // Dates the result and ages the leftovers of earlier tests.
    std::shared_ptr<const Clock> clock = Clock::system();

    static constexpr const char* filePrefix = ".keldwick-benchmark-";
    // Leftovers of a test that died are removed once they are this old.
    static constexpr double staleAfter = 3600;

    // The whole test on the drive mounted at `root`: creates the program's folder when
    // missing, removes stale leftovers of earlier tests, writes, reads at random, reads
    // sequentially and removes its file. `cancel` may be null (the test can't be
    // stopped). Throws POSIXFailure ("mkdir", "create", "write", "fsync", "open",
    // "read"), DriveBenchmarkNoRoom when the drive is full (or the user's quota is) and
    // CancellationError, checked before each chunk and each random read. On every road
    // it leaves nothing it didn't find: its file is removed, and so is the program's
    // folder when the test made it (only while it is empty: never what others put there).
    BenchmarkResult run(const std::string& root, const CancellationFlag* cancel) const;

    // Whether the write (or sequential read) phase takes another chunk after that many
    // bytes and `elapsed` seconds.
    bool keepsWriting(int64_t written, double elapsed) const;
    bool keepsReading(int64_t read, double elapsed) const;

    // The median (upper middle for an even count) and the 90th percentile of the read
    // times in seconds, in milliseconds; 0 and 0 without times.
    struct Latency {
        double medianMs = 0;
        double p90Ms = 0;
    };
    static Latency latency(std::vector<double> seconds);

    // Megabytes of 10^6 bytes per second, the time raised to at least 0.1 ms.
    static double megabytesPerSecond(int64_t bytes, double seconds);

    // Removes the temporary files of earlier tests in `folder` whose last change is more
    // than staleAfter seconds before `now`. Never fails.
    static void removeStaleFiles(const std::string& folder, double now);
};

}  // namespace keldwick
