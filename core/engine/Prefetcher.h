#pragma once
// Reads ahead the small files a tree copy or a verification is about to read, so that
// several reads are in flight at once instead of one file's after another's. Internal to
// the engine. Only files up to a small size are read ahead: larger ones stream through
// their own read-ahead.

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace keldwick {

class Prefetcher {
public:
    struct File {
        std::string path;
        int64_t size = 0;
    };

    // `fromMedium`: each file's cached (clean) pages are dropped before it is read
    // ahead, so what is then read comes from the medium.
    Prefetcher(std::vector<File> files, bool fromMedium);
    ~Prefetcher();
    Prefetcher(const Prefetcher&) = delete;
    Prefetcher& operator=(const Prefetcher&) = delete;

    // The reader is about to read files[index]. Returns once that file has been handled
    // (dropped and read ahead, or passed over), so its pages can't be dropped under the
    // reader; files far beyond the reader are not touched yet.
    void reach(size_t index);

    // Files up to this size are read ahead.
    static constexpr int64_t kMaxFileSize = 1 << 20;

private:
    void run();

    std::vector<File> files_;
    bool fromMedium_;
    std::mutex lock_;
    std::condition_variable changed_;
    size_t reader_ = 0;   // index the reader is at
    size_t handled_ = 0;  // files handled so far
    bool stop_ = false;
    // A thread of its own, not a TaskPool task: it owns the blocking reads ahead of the
    // reader for the whole pass, paced by reach().
    std::thread thread_;
};

}  // namespace keldwick
