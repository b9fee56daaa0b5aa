#pragma once
// The byte work under the copier: streaming a file through SHA-256 into a copy, and
// hashing a file as the medium holds it. Internal to the engine.
//
// Files of more than one chunk go through a pipeline: a reader thread fills a few
// aligned buffers, the calling thread hashes them in order and reports progress, and a
// writer thread writes them out. A move then runs at the speed of its slowest stage
// rather than the sum of all three. Progress (and so cancellation and fault points)
// still runs on the calling thread between chunks, and the first error is thrown only
// after both threads have stopped.

#include <cstdint>
#include <functional>
#include <string>

#include "platform/Types.h"

namespace keldwick::ChunkStream {

// Called with the bytes handled so far; may throw to stop the stream.
using Progress = std::function<void(int64_t bytesDone)>;

struct Result {
    std::string sha256;  // lowercase hex
    int64_t bytes = 0;
};

// Which ranges of a copy are left as holes. The source's own holes always are (found with
// SEEK_DATA/SEEK_HOLE, never read); `zeroBlocks` adds every whole block of zeros, for a
// file known to have had holes that comes from a copy written out in full.
enum class Holes { asSource, zeroBlocks };

// Reads `source` to its end, hashing every byte (holes as zeros), and writes the same
// bytes to `destination` (both open descriptors; the destination new and empty). Ranges
// left as holes are not written and are punched afterwards (a file system may have
// allocated ahead of the writes); where the destination's file system has no holes
// (FAT, exFAT) it holds them as written zeros. Dirty pages of the copy are written back
// as the copy goes, so a large copy never piles up unwritten memory. Throws POSIXFailure
// "read" (sourcePath) or "write" (destinationPath), or what `progress` throws.
// `sourceStatus`: the source's status as the caller just read it from the same
// descriptor, so that it isn't read again.
Result copy(int source, int destination, int64_t chunkSize, Holes holes, const Progress& progress,
            const std::string& sourcePath, const std::string& destinationPath,
            const struct statx* sourceStatus = nullptr);

// The SHA-256 of the file's content as the medium holds it: cached pages of the file are
// dropped before it is read (this works for pages already written back, so flush
// first), and the pages read are dropped again afterwards. `alreadyDropped`: the caller
// dropped them and may have read the file ahead from the medium since. Throws
// POSIXFailure "read".
// `status`: the file's status as the caller just read it from the same descriptor.
Result hashFromMedium(int fd, int64_t chunkSize, const std::string& path, bool alreadyDropped = false,
                      const struct statx* status = nullptr);

// Drops the file's cached pages; they must be clean (flushed) to go.
void dropCachedPages(int fd);

}  // namespace keldwick::ChunkStream
