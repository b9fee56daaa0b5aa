#include "drives/DriveBenchmark.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "drives/DriveLayout.h"
#include "foundation/EngineError.h"
#include "foundation/FileOps.h"
#include "foundation/Formatting.h"
#include "foundation/PathUtil.h"
#include "foundation/UUID.h"
#include "platform/FileIO.h"
#include "platform/FileReading.h"
#include "platform/FileStatus.h"
#include "platform/POSIXFailure.h"
#include "platform/ProcessFacts.h"

namespace keldwick {

namespace {

constexpr size_t blockSize = 4096;
constexpr size_t chunkAlignment = 16384;

using Stopwatch = std::chrono::steady_clock;

double secondsSince(Stopwatch::time_point start) {
    return std::chrono::duration<double>(Stopwatch::now() - start).count();
}

struct AlignedBuffer {
    void* data = nullptr;
    AlignedBuffer(size_t alignment, size_t size) {
        if (posix_memalign(&data, alignment, size) != 0) throw std::bad_alloc();
    }
    ~AlignedBuffer() { free(data); }
    AlignedBuffer(const AlignedBuffer&) = delete;
    AlignedBuffer& operator=(const AlignedBuffer&) = delete;
    char* bytes() { return static_cast<char*>(data); }
};

// A descriptor that bypasses the page cache: O_DIRECT where the file system takes it,
// else a cached descriptor whose pages are dropped before each read phase.
struct TestFile {
    platform::Fd descriptor;
    bool direct = false;
    std::string path;

    TestFile(const std::string& p, int flags, mode_t mode, const char* operation) : path(p) {
        // Direct mode is asked for after the open: a file system that refuses O_DIRECT
        // at open still creates the file first, so a second exclusive open would fail.
        descriptor.reset(platform::calls().openAt(AT_FDCWD, p.c_str(), flags | O_CLOEXEC | O_NOFOLLOW, mode));
        if (!descriptor) throw POSIXFailure(operation, p, errno);
        direct = platform::setDirectIO(fd(), true);
        if (!direct) dropCache();
    }
    int fd() const { return descriptor.get(); }
    void dropCache() const { platform::adviseCache(fd(), 0, 0, platform::CacheAdvice::dropPages); }

    // Falls back to cached I/O when the file system accepted O_DIRECT at open but
    // refuses a transfer (alignment rules differ between file systems).
    bool leaveDirectMode() {
        if (!direct) return false;
        if (!platform::setDirectIO(fd(), false)) return false;
        direct = false;
        return true;
    }
};

void checkCancel(const CancellationFlag* cancel) {
    if (cancel && cancel->isCancelled()) throw CancellationError();
}

void fillRandom(char* bytes, size_t size) {
    size_t done = 0;
    while (done < size) {
        ssize_t n = platform::randomBytes(bytes + done, size - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            throw POSIXFailure("getrandom", "", errno);
        }
        done += static_cast<size_t>(n);
    }
}

struct Timed {
    int64_t bytes = 0;
    double seconds = 0;
};

Timed writePhase(const DriveBenchmark& b, const std::string& path, const CancellationFlag* cancel, bool& created) {
    TestFile file(path, O_WRONLY | O_CREAT | O_EXCL, 0600, "create");
    created = true;
    const size_t chunk = static_cast<size_t>(b.chunkSize);
    AlignedBuffer buffer(chunkAlignment, chunk);
    fillRandom(buffer.bytes(), chunk);

    const auto start = Stopwatch::now();
    int64_t written = 0;
    while (written < b.maxBytes) {
        checkCancel(cancel);
        if (!b.keepsWriting(written, secondsSince(start))) break;
        // No two chunks are alike, so nothing on the way can deduplicate them.
        std::memcpy(buffer.bytes(), &written, sizeof written);
        size_t done = 0;
        while (done < chunk) {
            ssize_t n = platform::calls().pwrite(file.fd(), buffer.bytes() + done, chunk - done, written + static_cast<off_t>(done));
            if (n < 0) {
                if (errno == EINTR) continue;
                if (errno == EINVAL && file.leaveDirectMode()) continue;
                throw POSIXFailure("write", path, errno);
            }
            done += static_cast<size_t>(n);
        }
        written += b.chunkSize;
    }
    platform::flushFile(file.fd(), path);
    Timed result{written, secondsSince(start)};
    if (!file.direct) file.dropCache();
    return result;
}

std::vector<double> randomReadPhase(const DriveBenchmark& b, const std::string& path, int64_t span,
                                    const CancellationFlag* cancel) {
    TestFile file(path, O_RDONLY, 0, "open");
    AlignedBuffer buffer(blockSize, blockSize);
    const uint32_t blocks = static_cast<uint32_t>(
        std::clamp<int64_t>(span / static_cast<int64_t>(blockSize), 1, std::numeric_limits<uint32_t>::max()));
    std::vector<double> times;
    times.reserve(static_cast<size_t>(std::max(b.randomSamples, 0)));
    for (int i = 0; i < b.randomSamples; ++i) {
        checkCancel(cancel);
        const off_t offset = static_cast<off_t>(platform::randomBelow(blocks)) * static_cast<off_t>(blockSize);
        const auto start = Stopwatch::now();
        ssize_t n = platform::readAt(file.fd(), buffer.bytes(), blockSize, offset);
        if (n < 0 && errno == EINVAL && file.leaveDirectMode()) {
            file.dropCache();
            n = platform::readAt(file.fd(), buffer.bytes(), blockSize, offset);
        }
        if (n < 0) throw POSIXFailure("read", path, errno);
        times.push_back(secondsSince(start));
    }
    return times;
}

Timed sequentialReadPhase(const DriveBenchmark& b, const std::string& path, const CancellationFlag* cancel) {
    TestFile file(path, O_RDONLY, 0, "open");
    const size_t chunk = static_cast<size_t>(b.chunkSize);
    AlignedBuffer buffer(chunkAlignment, chunk);
    const auto start = Stopwatch::now();
    int64_t read = 0;
    for (;;) {
        checkCancel(cancel);
        if (!b.keepsReading(read, secondsSince(start))) break;
        ssize_t n = platform::readAt(file.fd(), buffer.bytes(), chunk, read);
        if (n < 0) {
            if (errno == EINTR) continue;
            if (errno == EINVAL && file.leaveDirectMode()) continue;
            throw POSIXFailure("read", path, errno);
        }
        if (n == 0) break;
        read += n;
    }
    return {read, secondsSince(start)};
}

}  // namespace

bool DriveBenchmark::keepsWriting(int64_t written, double elapsed) const {
    if (written >= maxBytes) return false;
    return !(written >= minBytes && elapsed >= writeBudget);
}

bool DriveBenchmark::keepsReading(int64_t read, double elapsed) const {
    return !(read >= minBytes && elapsed >= readBudget);
}

DriveBenchmark::Latency DriveBenchmark::latency(std::vector<double> seconds) {
    if (seconds.empty()) return {};
    std::sort(seconds.begin(), seconds.end());
    const size_t n = seconds.size();
    return {seconds[n / 2] * 1000, seconds[std::min(9 * n / 10, n - 1)] * 1000};
}

double DriveBenchmark::megabytesPerSecond(int64_t bytes, double seconds) {
    return (static_cast<double>(bytes) / 1'000'000) / std::max(seconds, 0.0001);
}

void DriveBenchmark::removeStaleFiles(const std::string& folder, double now) {
    std::vector<std::string> names;
    try {
        names = platform::readNames(platform::openDirectory(AT_FDCWD, folder), folder);
    } catch (const POSIXFailure&) {
        return;  // nothing to tidy that can be seen
    }
    std::vector<std::string> stale;
    for (const std::string& name : names) {
        if (name.rfind(filePrefix, 0) != 0) continue;
        struct stat st {};
        std::string path = PathUtil::join(folder, name);
        if (platform::statusNoFollow(path, st) != 0 || !S_ISREG(st.st_mode)) continue;
        // A test still running keeps writing its file; only old ones are leftovers.
        if (now - static_cast<double>(st.st_mtim.tv_sec) > staleAfter) stale.push_back(path);
    }
    for (const auto& path : stale) platform::calls().unlinkAt(AT_FDCWD, path.c_str(), 0);
}

BenchmarkResult DriveBenchmark::run(const std::string& root, const CancellationFlag* cancel) const {
    const std::string folder = PathUtil::join(root, DriveLayout::folderName(root));
    struct stat before {};
    const bool hadFolder = platform::statusNoFollow(folder, before) == 0;
    createDirectory(folder);
    // The folder a test made goes with it: a drive tried and not chosen keeps no trace.
    auto removeFolder = [&] {
        if (!hadFolder) platform::calls().unlinkAt(AT_FDCWD, folder.c_str(), AT_REMOVEDIR);
    };
    removeStaleFiles(folder, clock->now().secondsSince1970);
    const std::string path = PathUtil::join(folder, std::string(filePrefix) + UUID::random());

    bool created = false;
    try {
        Timed write = writePhase(*this, path, cancel, created);
        const int64_t span = std::max<int64_t>(write.bytes / 2, 4 << 20);
        Latency random = latency(randomReadPhase(*this, path, span, cancel));
        Timed read = sequentialReadPhase(*this, path, cancel);
        platform::calls().unlinkAt(AT_FDCWD, path.c_str(), 0);
        removeFolder();
        BenchmarkResult result;
        result.sequentialWriteMBps = megabytesPerSecond(write.bytes, write.seconds);
        result.sequentialReadMBps = megabytesPerSecond(read.bytes, read.seconds);
        result.randomReadMedianMs = random.medianMs;
        result.randomReadP90Ms = random.p90Ms;
        result.bytesTested = write.bytes;
        result.date = clock->now();
        return result;
    } catch (const POSIXFailure& failure) {
        // A "create" failure (the name was taken) leaves that other file alone.
        if (created) platform::calls().unlinkAt(AT_FDCWD, path.c_str(), 0);
        removeFolder();
        if (failure.code() == ENOSPC || failure.code() == EDQUOT) {
            throw DriveBenchmarkNoRoom("There isn't enough room on the drive for its speed test: it needs " +
                                       byteCountText(minBytes) + " free.");
        }
        throw;
    } catch (...) {
        if (created) platform::calls().unlinkAt(AT_FDCWD, path.c_str(), 0);
        removeFolder();
        throw;
    }
}

}  // namespace keldwick
