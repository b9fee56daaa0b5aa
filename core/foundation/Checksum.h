#pragma once
// SHA-256 of files and of bytes in memory, written as 64 lowercase hex digits.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace keldwick::Checksum {

// The read size for hashing files (4 MiB).
inline constexpr size_t defaultChunkSize = 4'194'304;

using Digest = std::array<uint8_t, 32>;

// An incremental SHA-256, for callers that hash bytes as they pass them on (the copier).
// Not copyable; finish() may be called once.
class Hasher {
public:
    Hasher();
    ~Hasher();
    Hasher(const Hasher&) = delete;
    Hasher& operator=(const Hasher&) = delete;

    void update(const void* bytes, size_t count);
    void update(std::string_view bytes) { update(bytes.data(), bytes.size()); }
    Digest finish();
    // finish() as lowercase hex.
    std::string finishHex();

private:
    struct State;
    State* state_;
};

// The lowercase hex SHA-256 of the content of the regular file at `path`, read in chunks
// of chunkSize bytes (the result does not depend on it). The final component is not
// followed; FIFOs, sockets and devices are refused before a byte is read so that an
// item swapped for one can't hang the caller, and the file's access time is kept where
// the process may do so. Throws POSIXFailure: "open" (ELOOP for a link, ENOENT, EINVAL
// for a special file) or "read" (EISDIR for a folder, EIO). Never returns a partial hash.
// Requires chunkSize > 0 (std::invalid_argument otherwise).
std::string sha256OfFile(const std::string& path, size_t chunkSize);

// The lowercase hex SHA-256 of the bytes.
std::string sha256(std::string_view bytes);

// One two-character lowercase string per byte of the digest, in order.
std::vector<std::string> hexDigits(const Digest& digest);

// The digest as one 64-character lowercase string.
std::string hex(const Digest& digest);

}  // namespace keldwick::Checksum
