#include "foundation/Checksum.h"

#include <algorithm>

#include <openssl/evp.h>

#include <cerrno>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <new>
#include <stdexcept>
#include <thread>

#include "platform/FileIO.h"
#include "platform/FileReading.h"
#include "platform/FileStatus.h"
#include "platform/POSIXFailure.h"

namespace keldwick::Checksum {

struct Hasher::State {
    EVP_MD_CTX* context = nullptr;
};

Hasher::Hasher() : state_(new State) {
    state_->context = EVP_MD_CTX_new();
    if (state_->context == nullptr || EVP_DigestInit_ex(state_->context, EVP_sha256(), nullptr) != 1) {
        EVP_MD_CTX_free(state_->context);
        delete state_;
        throw std::bad_alloc();
    }
}

Hasher::~Hasher() {
    EVP_MD_CTX_free(state_->context);
    delete state_;
}

void Hasher::update(const void* bytes, size_t count) {
    if (count == 0) return;
    if (EVP_DigestUpdate(state_->context, bytes, count) != 1) throw std::runtime_error("SHA-256 update failed");
}

Digest Hasher::finish() {
    Digest digest{};
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(state_->context, digest.data(), &length) != 1 || length != digest.size()) {
        throw std::runtime_error("SHA-256 finish failed");
    }
    return digest;
}

std::string Hasher::finishHex() { return hex(finish()); }

namespace {

constexpr size_t bufferAlignment = 16'384;

struct AlignedBuffer {
    void* bytes = nullptr;
    ~AlignedBuffer() { std::free(bytes); }
};

platform::Fd openForHashing(const std::string& path) {
    // O_NONBLOCK: opening a FIFO must not wait for a writer. O_NOATIME keeps the user's
    // last-access signal.
    platform::Fd fd = platform::openRead(path, O_NOFOLLOW | O_NONBLOCK | O_NOATIME);
    if (!fd) throw POSIXFailure("open", path, errno);
    return fd;
}

}  // namespace

namespace {

// Reads the file in chunks on a thread of its own while the caller hashes the chunk
// before: reading and hashing overlap, so a file goes at the speed of the slower of the
// two instead of their sum. Two buffers take turns; the reader waits for a free one.
class ReadAhead {
public:
    ReadAhead(int fd, size_t chunkSize) : fd_(fd), chunkSize_(chunkSize) {
        for (auto& slot : slots_)
            if (::posix_memalign(&slot.buffer.bytes, bufferAlignment, chunkSize) != 0) throw std::bad_alloc();
        // A thread of its own, not a TaskPool task: it owns the file's blocking reads from
        // first to last while the caller hashes.
        reader_ = std::thread([this] { readAll(); });
    }
    ~ReadAhead() {
        {
            std::lock_guard guard(lock_);
            stopping_ = true;
        }
        changed_.notify_all();
        reader_.join();
    }
    ReadAhead(const ReadAhead&) = delete;
    ReadAhead& operator=(const ReadAhead&) = delete;

    // Hands each chunk in order to `hash`; gives the errno of a failed read, or 0.
    template <typename Hash>
    int each(Hash&& hash) {
        for (size_t next = 0;; next = 1 - next) {
            Slot& slot = slots_[next];
            {
                std::unique_lock guard(lock_);
                changed_.wait(guard, [&] { return slot.full; });
            }
            if (slot.error != 0) return slot.error;
            if (slot.length == 0) return 0;
            hash(slot.buffer.bytes, slot.length);
            {
                std::lock_guard guard(lock_);
                slot.full = false;
            }
            changed_.notify_all();
        }
    }

private:
    struct Slot {
        AlignedBuffer buffer;
        size_t length = 0;
        int error = 0;
        bool full = false;
    };

    void readAll() {
        for (size_t next = 0;; next = 1 - next) {
            Slot& slot = slots_[next];
            {
                std::unique_lock guard(lock_);
                changed_.wait(guard, [&] { return !slot.full || stopping_; });
                if (stopping_) return;
            }
            ssize_t n;
            do n = platform::readSome(fd_, slot.buffer.bytes, chunkSize_);
            while (n < 0 && errno == EINTR);
            {
                std::lock_guard guard(lock_);
                slot.error = n < 0 ? errno : 0;
                slot.length = n < 0 ? 0 : static_cast<size_t>(n);
                slot.full = true;
            }
            changed_.notify_all();
            if (n <= 0) return;  // the end, or a failure: the caller stops at this chunk
        }
    }

    int fd_;
    size_t chunkSize_;
    Slot slots_[2];
    std::mutex lock_;
    std::condition_variable changed_;
    bool stopping_ = false;
    std::thread reader_;
};

}  // namespace

std::string sha256OfFile(const std::string& path, size_t chunkSize) {
    if (chunkSize == 0) throw std::invalid_argument("Checksum::sha256OfFile needs a chunk size above 0");
    platform::Fd fd = openForHashing(path);

    struct stat st {};
    if (platform::statusOf(fd.get(), st) != 0) throw POSIXFailure("open", path, errno);
    if (S_ISDIR(st.st_mode)) throw POSIXFailure("read", path, EISDIR);
    if (!S_ISREG(st.st_mode)) throw POSIXFailure("open", path, EINVAL);

    Hasher hasher;
    off_t done = 0;
    auto hash = [&](const void* bytes, size_t count) {
        hasher.update(bytes, count);
        // Drop what was hashed so that hashing large files does not evict other data.
        platform::adviseCache(fd.get(), done, static_cast<off_t>(count), platform::CacheAdvice::dropPages);
        done += static_cast<off_t>(count);
    };

    // A file of more than one chunk is read ahead while the chunk before is hashed.
    if (static_cast<uint64_t>(st.st_size) > chunkSize) {
        platform::adviseCache(fd.get(), 0, 0, platform::CacheAdvice::sequential);
        if (int error = ReadAhead(fd.get(), chunkSize).each(hash)) throw POSIXFailure("read", path, error);
        return hasher.finishHex();
    }

    // A small file is read whole by one call: a buffer one byte larger than the file
    // comes back short with all of it, its end, so no second read is made to find it
    // (a short read before the size seen goes on reading). The buffer stays on the heap instead of being mapped and unmapped for
    // each file.
    constexpr size_t smallBuffer = 65536;
    const size_t bufferSize = std::min(chunkSize, std::max(smallBuffer, size_t(st.st_size) + 1));
    AlignedBuffer buffer;
    if (::posix_memalign(&buffer.bytes, bufferAlignment, bufferSize) != 0) throw std::bad_alloc();
    for (;;) {
        const ssize_t n = platform::readSome(fd.get(), buffer.bytes, bufferSize);
        if (n < 0) {
            if (errno == EINTR) continue;
            throw POSIXFailure("read", path, errno);
        }
        if (n == 0) break;
        hash(buffer.bytes, static_cast<size_t>(n));
        if (static_cast<size_t>(n) < bufferSize && done >= st.st_size) break;
    }
    return hasher.finishHex();
}

std::string sha256(std::string_view bytes) {
    Hasher hasher;
    hasher.update(bytes);
    return hasher.finishHex();
}

std::vector<std::string> hexDigits(const Digest& digest) {
    static constexpr char digits[] = "0123456789abcdef";
    std::vector<std::string> result;
    result.reserve(digest.size());
    for (uint8_t byte : digest) result.push_back({digits[byte >> 4], digits[byte & 0x0f]});
    return result;
}

std::string hex(const Digest& digest) {
    std::string result;
    result.reserve(digest.size() * 2);
    for (auto& pair : hexDigits(digest)) result += pair;
    return result;
}

}  // namespace keldwick::Checksum
