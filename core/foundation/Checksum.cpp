#include "foundation/Checksum.h"

#include <algorithm>

#include <fcntl.h>
#include <openssl/evp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <new>
#include <stdexcept>

#include "platform/FileIO.h"
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

std::string sha256OfFile(const std::string& path, size_t chunkSize) {
    if (chunkSize == 0) throw std::invalid_argument("Checksum::sha256OfFile needs a chunk size above 0");
    platform::Fd fd = openForHashing(path);

    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) throw POSIXFailure("open", path, errno);
    if (S_ISDIR(st.st_mode)) throw POSIXFailure("read", path, EISDIR);
    if (!S_ISREG(st.st_mode)) throw POSIXFailure("open", path, EINVAL);

    (void)::posix_fadvise(fd.get(), 0, 0, POSIX_FADV_SEQUENTIAL);

    // A small file needs no more than itself and the read that finds its end: a buffer
    // sized to it stays on the heap instead of being mapped and unmapped for each file.
    constexpr size_t smallBuffer = 65536;
    const size_t bufferSize = std::min(chunkSize, std::max(smallBuffer, size_t(st.st_size) + 1));
    AlignedBuffer buffer;
    if (::posix_memalign(&buffer.bytes, bufferAlignment, bufferSize) != 0) throw std::bad_alloc();

    Hasher hasher;
    off_t done = 0;
    for (;;) {
        const ssize_t n = ::read(fd.get(), buffer.bytes, bufferSize);
        if (n < 0) {
            if (errno == EINTR) continue;
            throw POSIXFailure("read", path, errno);
        }
        if (n == 0) break;
        hasher.update(buffer.bytes, static_cast<size_t>(n));
        // Drop what was hashed so that hashing large files does not evict other data.
        (void)::posix_fadvise(fd.get(), done, n, POSIX_FADV_DONTNEED);
        done += n;
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
