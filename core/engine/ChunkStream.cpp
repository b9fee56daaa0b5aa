#include "engine/ChunkStream.h"

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
#include "platform/FileReading.h"
#include "platform/FileStatus.h"
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

// Reads until `count` bytes or the end of the file, from the file's position or, given an
// offset, from there without moving the position; EINTR retried.
size_t readFully(int fd, unsigned char* into, size_t count, const std::string& path,
                 std::optional<int64_t> offset = std::nullopt) {
    size_t done = 0;
    while (done < count) {
        ssize_t n = offset ? platform::readAt(fd, into + done, count - done, *offset + static_cast<int64_t>(done))
                           : platform::readSome(fd, into + done, count - done);
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

// A byte range of a file.
struct Range {
    int64_t offset = 0;
    int64_t length = 0;
};

// What is read and how: a file with fewer blocks than its size has holes, which are
// found with SEEK_DATA/SEEK_HOLE and given as zeros instead of being read.
struct Source {
    int fd = -1;
    const std::string* path = nullptr;
    bool holes = false;
    int64_t size = -1;  // when the stream began; with holes, where reading stops
};

Source sourceOf(int fd, const std::string& path, const struct statx* known = nullptr) {
    if (known) {
        const auto size = static_cast<int64_t>(known->stx_size);
        const bool holes = S_ISREG(known->stx_mode) && size > 0 && static_cast<int64_t>(known->stx_blocks) * 512 < size;
        return {fd, &path, holes, size};
    }
    struct stat st {};
    if (platform::statusOf(fd, st) != 0) return {fd, &path, false, -1};
    const bool holes = S_ISREG(st.st_mode) && st.st_size > 0 && st.st_blocks * 512 < st.st_size;
    return {fd, &path, holes, static_cast<int64_t>(st.st_size)};
}

// Fills `into` with up to `count` bytes of the file from `offset` (where the previous
// chunk ended) and lists in `data` the ranges that were read rather than holes. Returns
// the chunk's length: 0 at the end, short when the file ends within it.
size_t readChunk(const Source& source, unsigned char* into, size_t count, int64_t offset, std::vector<Range>& data) {
    data.clear();
    if (!source.holes) {
        const size_t n = readFully(source.fd, into, count, *source.path);
        if (n > 0) data.push_back({offset, static_cast<int64_t>(n)});
        return n;
    }
    const int64_t end = std::min(offset + static_cast<int64_t>(count), source.size);
    int64_t at = offset;
    while (at < end) {
        const off_t dataAt = platform::seekData(source.fd, at);
        if (dataAt < 0 && errno != ENXIO) throw POSIXFailure("read", *source.path, errno);
        // ENXIO: nothing but a hole up to the end.
        const int64_t holeEnd = dataAt < 0 ? end : std::min<int64_t>(dataAt, end);
        if (holeEnd > at) {
            std::memset(into + (at - offset), 0, static_cast<size_t>(holeEnd - at));
            at = holeEnd;
            continue;
        }
        const off_t holeAt = platform::seekHole(source.fd, at);
        if (holeAt < 0) throw POSIXFailure("read", *source.path, errno);
        const int64_t dataEnd = holeAt > at ? std::min<int64_t>(holeAt, end) : end;
        const size_t n = readFully(source.fd, into + (at - offset), static_cast<size_t>(dataEnd - at), *source.path, at);
        if (n > 0) data.push_back({at, static_cast<int64_t>(n)});
        at += static_cast<int64_t>(n);
        // A file that shrank while read: the caller's check of its size tells.
        if (at < dataEnd) break;
    }
    return at > offset ? static_cast<size_t>(at - offset) : 0;
}

// The ranges of a copy left unwritten, merged where they meet, for punching at the end.
class HoleList {
public:
    void add(int64_t from, int64_t to) {
        if (to <= from) return;
        if (!ranges_.empty() && ranges_.back().offset + ranges_.back().length == from)
            ranges_.back().length += to - from;
        else
            ranges_.push_back({from, to - from});
    }
    const std::vector<Range>& ranges() const { return ranges_; }

private:
    std::vector<Range> ranges_;
};

// The unit in which runs of zeros become holes: the block of the usual file systems.
constexpr int64_t kHoleBlock = 4096;

void dropRange(int fd, int64_t offset, int64_t length) {
    platform::adviseCache(fd, offset, length, platform::CacheAdvice::dropPages);
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
        check(platform::calls().syncFileRange(fd_, offset, length, SYNC_FILE_RANGE_WRITE));
        pending_.emplace_back(offset, length);
        if (pending_.size() > kWritebackWindow) {
            auto [o, l] = pending_.front();
            pending_.pop_front();
            check(platform::calls().syncFileRange(
                fd_, o, l, SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE | SYNC_FILE_RANGE_WAIT_AFTER));
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
    std::vector<Range> data;  // what was read; the rest of the chunk is holes
};

// Where a chunk goes after it is hashed. Without a destination the stream only hashes.
struct Destination {
    int fd = -1;
    bool zeroBlocks = false;  // whole blocks of zeros become holes too
    const std::string* path = nullptr;
    HoleList* holes = nullptr;  // the ranges left unwritten, filled in by the writer
};

// Writes the ranges of the chunk that were read (with zeroBlocks, less their whole
// blocks of zeros, counted from the file's start) and notes the rest as holes. Whether
// anything was written.
bool writeChunk(const Destination& to, const unsigned char* bytes, int64_t chunkOffset, size_t length,
                const std::vector<Range>& data) {
    int64_t done = chunkOffset;  // everything before is written or noted as a hole
    bool wrote = false;
    auto put = [&](int64_t from, int64_t end) {
        to.holes->add(done, from);
        writeFully(to.fd, bytes + (from - chunkOffset), static_cast<size_t>(end - from), from, *to.path);
        done = end;
        wrote = true;
    };
    for (const Range& range : data) {
        const int64_t rangeEnd = range.offset + range.length;
        if (!to.zeroBlocks) {
            put(range.offset, rangeEnd);
            continue;
        }
        int64_t run = -1;  // start of the bytes to write, if any are pending
        for (int64_t at = range.offset; at < rangeEnd;) {
            const int64_t next = std::min(rangeEnd, (at / kHoleBlock + 1) * kHoleBlock);
            const bool zeroBlock = next - at == kHoleBlock && allZero(bytes + (at - chunkOffset), kHoleBlock);
            if (!zeroBlock && run < 0) run = at;
            if (zeroBlock && run >= 0) {
                put(run, at);
                run = -1;
            }
            at = next;
        }
        if (run >= 0) put(run, rangeEnd);
    }
    to.holes->add(done, chunkOffset + static_cast<int64_t>(length));
    return wrote;
}

// Punches the ranges left unwritten: a file system may have allocated ahead of the
// writes (XFS reserves blocks past the end of a growing file). Their content is already
// zeros, so a failure costs space, not data: punching stops there, as it does on a file
// system without holes (FAT, exFAT), where the skipped ranges were written out as zeros.
void punchHoles(int fd, const HoleList& holes) {
    for (const Range& range : holes.ranges())
        if (platform::calls().fallocate(fd, FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE, range.offset,
                                        range.length) != 0)
            return;
}

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
    void read(const Source& source) {
        guarded([&] {
            int64_t offset = 0;
            Dropper dropper(source.fd);
            for (;;) {
                auto slot = free_.pop();
                if (!slot) return;
                Chunk& c = chunks_[*slot];
                c.offset = offset;
                c.length = readChunk(source, c.buffer->bytes, chunkSize_, offset, c.data);
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
                if (writeChunk(destination, c.buffer->bytes, c.offset, c.length, c.data))
                    writeback.wrote(c.offset, static_cast<int64_t>(c.length));
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

Result runPipelined(const Source& source, Destination destination, size_t chunkSize, const Progress& progress) {
    Pipeline pipeline(chunkSize);
    const bool writing = destination.fd >= 0;
    std::thread reader([&] { pipeline.read(source); });
    std::thread writer;
    if (writing) writer = std::thread([&] { pipeline.write(destination); });
    Result result = pipeline.hash(writing, progress);
    if (writer.joinable()) writer.join();
    reader.join();
    pipeline.rethrowFailure();
    return result;
}

// A file of one chunk at most: its pages are left to the kernel (they are clean, and a
// moved original's go with it), so that it costs no call beyond its reads.
Result runSerial(const Source& source, Destination destination, size_t chunkSize, const Progress& progress) {
    AlignedBuffer buffer(chunkSize);
    Checksum::Hasher hasher;
    std::vector<Range> data;
    int64_t total = 0;
    for (;;) {
        size_t n = readChunk(source, buffer.bytes, chunkSize, total, data);
        if (n == 0) break;
        hasher.update(buffer.bytes, n);
        if (destination.fd >= 0) (void)writeChunk(destination, buffer.bytes, total, n, data);
        total += static_cast<int64_t>(n);
        if (progress) progress(total);
        // A short chunk without holes ended at a read that found the end: a small file is
        // read in one call and that one.
        if (!source.holes && n < chunkSize) break;
    }
    return {hasher.finishHex(), total};
}

// A file within the kernel's usual read-ahead window (128 KiB) is read ahead whole by
// its first read, and the engine reads files up to 1 MiB ahead itself; only larger ones
// gain from the doubled window of sequential advice.
bool widerReadAheadHelps(int64_t size) { return size < 0 || size > 1024 * 1024; }

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

Result copy(int source, int destination, int64_t chunkSize, Holes holes, const Progress& progress,
            const std::string& sourcePath, const std::string& destinationPath, const struct statx* sourceStatus) {
    size_t chunk = checkedChunkSize(chunkSize);
    const Source from = sourceOf(source, sourcePath, sourceStatus);
    if (widerReadAheadHelps(from.size)) platform::adviseCache(source, 0, 0, platform::CacheAdvice::sequential);
    HoleList skipped;
    Destination to{destination, holes == Holes::zeroBlocks, &destinationPath, &skipped};
    Result result = worthPipelining(from.size, chunk) ? runPipelined(from, to, chunk, progress)
                                                      : runSerial(from, to, serialBuffer(from.size, chunk), progress);
    if (!skipped.ranges().empty()) {
        // Holes left at the end still count towards the copy's length.
        if (platform::calls().ftruncate(destination, result.bytes) != 0)
            throw POSIXFailure("write", destinationPath, errno);
        punchHoles(destination, skipped);
    }
    return result;
}

Result hashFromMedium(int fd, int64_t chunkSize, const std::string& path, bool alreadyDropped,
                      const struct statx* status) {
    size_t chunk = checkedChunkSize(chunkSize);
    if (!alreadyDropped) dropCachedPages(fd);
    Destination none{};
    const Source source = sourceOf(fd, path, status);
    if (widerReadAheadHelps(source.size)) platform::adviseCache(fd, 0, 0, platform::CacheAdvice::sequential);
    return worthPipelining(source.size, chunk) ? runPipelined(source, none, chunk, nullptr)
                                               : runSerial(source, none, serialBuffer(source.size, chunk), nullptr);
}

}  // namespace keldwick::ChunkStream
