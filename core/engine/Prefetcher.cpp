#include "engine/Prefetcher.h"

#include "platform/FileIO.h"
#include "platform/FileReading.h"

namespace keldwick {

namespace {

// How far ahead of the reader, in files and in bytes.
constexpr size_t kWindowFiles = 64;
constexpr int64_t kWindowBytes = 32 << 20;
// How many files the reader passes before it wakes the thread reading ahead.
constexpr size_t kWakeEvery = 16;

platform::Fd readAhead(const std::string& path, int64_t size, bool fromMedium) {
    platform::Fd fd = platform::openRead(path, O_NOFOLLOW | O_NONBLOCK | O_NOATIME);
    if (!fd) return fd;  // the reader opens it itself and reports why it can't
    if (fromMedium) platform::adviseCache(fd.get(), 0, 0, platform::CacheAdvice::dropPages);
    platform::adviseCache(fd.get(), 0, size, platform::CacheAdvice::willNeed);
    return fd;
}

}  // namespace

Prefetcher::Prefetcher(std::vector<File> files, bool fromMedium)
    : files_(std::move(files)), opened_(files_.size()), fromMedium_(fromMedium) {
    if (files_.size() >= kMinFiles) thread_ = std::thread([this] { run(); });
}

Prefetcher::~Prefetcher() {
    if (!thread_.joinable()) return;
    {
        std::lock_guard guard(lock_);
        stop_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

platform::Fd Prefetcher::reach(size_t index) {
    if (!thread_.joinable()) return platform::Fd();
    std::unique_lock guard(lock_);
    reader_ = index;
    // The thread reading ahead waits for room in its window. Woken for every file, it
    // would cost two thread switches a file; it is woken once a stretch of the window has
    // been read, and at once when the reader has caught up with it.
    if (handled_ <= index || index % kWakeEvery == 0) changed_.notify_all();
    changed_.wait(guard, [&] { return stop_ || handled_ > index; });
    if (index >= opened_.size() || handled_ <= index) return platform::Fd();
    return std::move(opened_[index]);
}

void Prefetcher::run() {
    int64_t aheadBytes = 0;
    size_t windowStart = 0;
    for (size_t i = 0; i < files_.size(); ++i) {
        {
            std::unique_lock guard(lock_);
            changed_.wait(guard, [&] {
                // Files the reader has passed no longer count against the window.
                while (windowStart < reader_ && windowStart < i) {
                    if (files_[windowStart].size <= kMaxFileSize) aheadBytes -= files_[windowStart].size;
                    ++windowStart;
                }
                return stop_ || i <= reader_ || (i < reader_ + kWindowFiles && aheadBytes < kWindowBytes);
            });
            if (stop_) return;
        }
        platform::Fd opened;
        if (files_[i].size <= kMaxFileSize) {
            opened = readAhead(files_[i].path, files_[i].size, fromMedium_);
            aheadBytes += files_[i].size;
        }
        {
            std::lock_guard guard(lock_);
            opened_[i] = std::move(opened);
            handled_ = i + 1;
        }
        changed_.notify_all();
    }
}

}  // namespace keldwick
