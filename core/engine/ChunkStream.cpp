#include "engine/ChunkStream.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <exception>
#include <mutex>
#include <new>
#include <optional>
#include <thread>
#include <vector>

#include "foundation/Checksum.h"
#include "platform/FileIO.h"
#include "platform/POSIXFailure.h"

namespace keldwick::ChunkStream {

namespace {

constexpr size_t kAlignment = 16'384;
// Buffers in flight in a pipeline: one being read, one hashed, one written, one spare.
constexpr int kBuffers = 4;
// Chunks of a copy that may be waiting for write-back before the writer waits for the
// oldest: bounds the dirty memory a copy to a slow drive can pile up.
constexpr size_t kWritebackWindow = 4;

struct AlignedBuffer {
    explicit AlignedBuffer(size_t size) {
        size_t rounded = (size + kAlignment - 1) / kAlignment * kAlignment;
        bytes = static_cast<unsigned char*>(std::aligned_alloc(kAlignment, rounded == 0 ? kAlignment : rounded));
        if (bytes == nullptr) throw std::bad_alloc();
    }
    ~AlignedBuffer() { std::free(bytes); }
    AlignedBuffer(const AlignedBuffer&) = delete;
    AlignedBuffer& operator=(const AlignedBuffer&) = delete;
    unsigned char* bytes;
};

// Reads until `count` bytes or the end of the file; EINTR retried.
size_t readFully(int fd, unsigned char* into, size_t count, const std::string& path) {
    size_t done = 0;
    while (done < count) {
        ssize_t n = ::read(fd, into + done, count - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            throw POSIXFailure("read", path, errno);
        }
        if (n == 0) break;
        done += static_cast<size_t>(n);
    }
    return done;
}

void writeFully(int fd, const unsigned char* bytes, size_t count, int64_t offset, const std::string& path) {
    size_t done = 0;
    while (done < count) {
        ssize_t n = platform::calls().pwrite(fd, bytes + done, count - done, offset + static_cast<int64_t>(done));
        if (n < 0) {
            if (errno == EINTR) continue;
            throw POSIXFailure("write", path, errno);
        }
        if (n == 0) throw POSIXFailure("write", path, EIO);
        done += static_cast<size_t>(n);
    }
}

bool allZero(const unsigned char* bytes, size_t count) {
    return count == 0 || (bytes[0] == 0 && std::memcmp(bytes, bytes + 1, count - 1) == 0);
}

void dropRange(int fd, int64_t offset, int64_t length) {
    (void)::posix_fadvise(fd, offset, length, POSIX_FADV_DONTNEED);
}

// Drops the pages of a file behind a moving position. The page cache holds files in
// folios of up to 2 MiB, and a folio goes only when a drop covers it whole, so drops
// run in 2 MiB-aligned steps; finish() drops whatever is left.
class Dropper {
public:
    explicit Dropper(int fd) : fd_(fd) {}
    void consumedUpTo(int64_t end) {
        int64_t aligned = end / kFolioSpan * kFolioSpan;
        if (aligned <= from_) return;
        dropRange(fd_, from_, aligned - from_);
        from_ = aligned;
    }
    void finish() { dropRange(fd_, 0, 0); }

private:
    static constexpr int64_t kFolioSpan = 2 * 1024 * 1024;
    int fd_;
    int64_t from_ = 0;
};

// Starts write-back of each chunk as it is written and waits for the oldest once the
// window is full, dropping its pages then (they are clean).
class Writeback {
public:
    Writeback(int fd, std::string path) : fd_(fd), path_(std::move(path)), dropper_(fd) {}

    void wrote(int64_t offset, int64_t length) {
        check(::sync_file_range(fd_, offset, length, SYNC_FILE_RANGE_WRITE));
        pending_.emplace_back(offset, length);
        if (pending_.size() > kWritebackWindow) {
            auto [o, l] = pending_.front();
            pending_.pop_front();
            check(::sync_file_range(fd_, o, l,
                                    SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE | SYNC_FILE_RANGE_WAIT_AFTER));
            dropper_.consumedUpTo(o + l);
        }
    }

private:
    void check(int result) {
        // Only a failed write-back is the copy's failure; a file system that can't do
        // ranged write-back (EINVAL, ESPIPE) is flushed whole by the final fsync.
        if (result != 0 && (errno == EIO || errno == ENOSPC || errno == EDQUOT))
            throw POSIXFailure("write", path_, errno);
    }

    int fd_;
    std::string path_;
    std::deque<std::pair<int64_t, int64_t>> pending_;
    Dropper dropper_;
};

// A blocking queue of buffer indices that can be aborted: pop() then gives nothing.
class SlotQueue {
public:
    void push(int slot) {
        {
            std::lock_guard guard(lock_);
            slots_.push_back(slot);
        }
        ready_.notify_one();
    }
    std::optional<int> pop() {
        std::unique_lock guard(lock_);
        ready_.wait(guard, [&] { return aborted_ || !slots_.empty(); });
        if (aborted_) return std::nullopt;
        int slot = slots_.front();
        slots_.pop_front();
        return slot;
    }
    void abort() {
        {
            std::lock_guard guard(lock_);
            aborted_ = true;
        }
        ready_.notify_all();
    }

private:
    std::mutex lock_;
    std::condition_variable ready_;
    std::deque<int> slots_;
    bool aborted_ = false;
};

struct Chunk {
    std::unique_ptr<AlignedBuffer> buffer;
    size_t length = 0;
    int64_t offset = 0;
};

// Where a chunk goes after it is hashed. Without a destination the stream only hashes.
struct Destination {
    int fd = -1;
    bool skipZeroChunks = false;
    const std::string* path = nullptr;
};

// Reading, hashing and writing on three threads over a ring of buffers: a slot goes from
// `free` to the reader, to `toHash`, to `toWrite` (when there is a destination) and back.
// The first failure on any thread aborts every queue so the others stop, and is the one
// rethrown.
class Pipeline {
public:
    explicit Pipeline(size_t chunkSize) : chunkSize_(chunkSize), chunks_(kBuffers) {
        for (auto& c : chunks_) c.buffer = std::make_unique<AlignedBuffer>(chunkSize);
        for (int i = 0; i < kBuffers; ++i) free_.push(i);
    }

    // Reads the source into free slots. A chunk of length 0 marks the end of the file.
    void read(int source, const std::string& sourcePath) {
        guarded([&] {
            int64_t offset = 0;
            Dropper dropper(source);
            for (;;) {
                auto slot = free_.pop();
                if (!slot) return;
                Chunk& c = chunks_[*slot];
                c.offset = offset;
                c.length = readFully(source, c.buffer->bytes, chunkSize_, sourcePath);
                offset += static_cast<int64_t>(c.length);
                dropper.consumedUpTo(offset);
                if (c.length == 0) dropper.finish();
                toHash_.push(*slot);
                if (c.length == 0) return;
            }
        });
    }

    // Writes hashed chunks at their offsets until the end mark.
    void write(const Destination& destination) {
        guarded([&] {
            Writeback writeback(destination.fd, *destination.path);
            for (;;) {
                auto slot = toWrite_.pop();
                if (!slot) return;
                Chunk& c = chunks_[*slot];
                if (c.length == 0) return;
                if (!(destination.skipZeroChunks && allZero(c.buffer->bytes, c.length))) {
                    writeFully(destination.fd, c.buffer->bytes, c.length, c.offset, *destination.path);
                    writeback.wrote(c.offset, static_cast<int64_t>(c.length));
                }
                free_.push(*slot);
            }
        });
    }

    // Hashes the chunks in order, passing each to the writer (or back to the reader).
    Result hash(bool writing, const Progress& progress) {
        Checksum::Hasher hasher;
        int64_t total = 0;
        guarded([&] {
            for (;;) {
                auto slot = toHash_.pop();
                if (!slot) return;
                Chunk& c = chunks_[*slot];
                if (c.length == 0) {
                    if (writing) toWrite_.push(*slot);
                    return;
                }
                hasher.update(c.buffer->bytes, c.length);
                total += static_cast<int64_t>(c.length);
                if (writing)
                    toWrite_.push(*slot);
                else
                    free_.push(*slot);
                if (progress) progress(total);
            }
        });
        return {hasher.finishHex(), total};
    }

    // Throws the first failure of any thread.
    void rethrowFailure() {
        if (firstError_) std::rethrow_exception(firstError_);
    }

private:
    template <typename Work>
    void guarded(Work&& work) {
        try {
            work();
        } catch (...) {
            fail(std::current_exception());
        }
    }
    void fail(std::exception_ptr error) {
        {
            std::lock_guard guard(errorLock_);
            if (!firstError_) firstError_ = error;
        }
        free_.abort();
        toHash_.abort();
        toWrite_.abort();
    }

    size_t chunkSize_;
    std::vector<Chunk> chunks_;
    SlotQueue free_, toHash_, toWrite_;
    std::mutex errorLock_;
    std::exception_ptr firstError_;
};

Result runPipelined(int source, Destination destination, size_t chunkSize, const Progress& progress,
                    const std::string& sourcePath) {
    Pipeline pipeline(chunkSize);
    const bool writing = destination.fd >= 0;
    std::thread reader([&] { pipeline.read(source, sourcePath); });
    std::thread writer;
    if (writing) writer = std::thread([&] { pipeline.write(destination); });
    Result result = pipeline.hash(writing, progress);
    if (writer.joinable()) writer.join();
    reader.join();
    pipeline.rethrowFailure();
    return result;
}

Result runSerial(int source, Destination destination, size_t chunkSize, const Progress& progress,
                 const std::string& sourcePath) {
    AlignedBuffer buffer(chunkSize);
    Checksum::Hasher hasher;
    Dropper dropper(source);
    int64_t total = 0;
    for (;;) {
        size_t n = readFully(source, buffer.bytes, chunkSize, sourcePath);
        if (n == 0) {
            dropper.finish();
            break;
        }
        dropper.consumedUpTo(total + static_cast<int64_t>(n));
        hasher.update(buffer.bytes, n);
        if (destination.fd >= 0 && !(destination.skipZeroChunks && allZero(buffer.bytes, n)))
            writeFully(destination.fd, buffer.bytes, n, total, *destination.path);
        total += static_cast<int64_t>(n);
        if (progress) progress(total);
    }
    return {hasher.finishHex(), total};
}

int64_t sizeOf(int fd) {
    struct stat st {};
    return ::fstat(fd, &st) == 0 ? static_cast<int64_t>(st.st_size) : -1;
}

bool worthPipelining(int64_t size, size_t chunkSize) { return size > static_cast<int64_t>(chunkSize); }

// A small file needs no more buffer than its size and one byte to see its end (but
// enough that a file growing meanwhile is still read in sizeable pieces).
size_t serialBuffer(int64_t size, size_t chunkSize) {
    if (size < 0) return chunkSize;
    return std::min(chunkSize, std::max<size_t>(static_cast<size_t>(size) + 1, 65'536));
}

size_t checkedChunkSize(int64_t chunkSize) {
    if (chunkSize <= 0) throw std::invalid_argument("chunk size must be positive");
    return static_cast<size_t>(chunkSize);
}

}  // namespace

void dropCachedPages(int fd) { dropRange(fd, 0, 0); }

Result copy(int source, int destination, int64_t chunkSize, bool sourceSparse, const Progress& progress,
            const std::string& sourcePath, const std::string& destinationPath) {
    size_t chunk = checkedChunkSize(chunkSize);
    (void)::posix_fadvise(source, 0, 0, POSIX_FADV_SEQUENTIAL);
    Destination to{destination, sourceSparse, &destinationPath};
    int64_t size = sizeOf(source);
    Result result = worthPipelining(size, chunk)
                        ? runPipelined(source, to, chunk, progress, sourcePath)
                        : runSerial(source, to, serialBuffer(size, chunk), progress, sourcePath);
    // Holes left at the end still count towards the copy's length.
    if (sourceSparse && platform::calls().ftruncate(destination, result.bytes) != 0)
        throw POSIXFailure("write", destinationPath, errno);
    return result;
}

Result hashFromMedium(int fd, int64_t chunkSize, const std::string& path, bool alreadyDropped) {
    size_t chunk = checkedChunkSize(chunkSize);
    if (!alreadyDropped) dropCachedPages(fd);
    (void)::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    Destination none{};
    int64_t size = sizeOf(fd);
    return worthPipelining(size, chunk) ? runPipelined(fd, none, chunk, nullptr, path)
                                        : runSerial(fd, none, serialBuffer(size, chunk), nullptr, path);
}

}  // namespace keldwick::ChunkStream
