#pragma once
// Reads ahead the small files a tree copy or a verification is about to read, so that
// several reads are in flight at once instead of one file's after another's. Internal to
// the engine. Only files up to a small size are read ahead: larger ones stream through
// their own read-ahead. The descriptor a file was read ahead through is handed to the
// reader, so each file is opened once.

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/FileIO.h"

namespace keldwick {

class Prefetcher {
public:
    struct File {
        std::string path;
        int64_t size = 0;
    };

    // `fromMedium`: each file's cached (clean) pages are dropped before it is read
    // ahead, so what is then read comes from the medium. With fewer than kMinFiles
    // files nothing is read ahead and no thread started.
    Prefetcher(std::vector<File> files, bool fromMedium);
    ~Prefetcher();
    Prefetcher(const Prefetcher&) = delete;
    Prefetcher& operator=(const Prefetcher&) = delete;

    // The reader is about to read files[index]. Returns once that file has been handled
    // (dropped and read ahead, or passed over), so its pages can't be dropped under the
    // reader; files far beyond the reader are not touched yet. Gives the descriptor the
    // file was read ahead through (opened by its path, a final link not followed, read
    // only, O_NONBLOCK and O_NOATIME), or an invalid one when it was passed over or
    // couldn't be opened: the reader checks that it is the file it means before use.
    platform::Fd reach(size_t index);

    // Files up to this size are read ahead.
    static constexpr int64_t kMaxFileSize = 1 << 20;
    // Fewer files than this are left to the reader alone: a thread started for each small
    // folder (a recovery hashes thousands) costs more than reading ahead saves.
    static constexpr size_t kMinFiles = 16;

private:
    void run();

    std::vector<File> files_;
    std::vector<platform::Fd> opened_;  // by file, until the reader takes it
    bool fromMedium_;
    std::mutex lock_;
    std::condition_variable changed_;
    size_t reader_ = 0;   // index the reader is at
    size_t handled_ = 0;  // files handled so far
    bool stop_ = false;
    std::thread thread_;
};

}  // namespace keldwick
