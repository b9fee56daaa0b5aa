#pragma once
// Reading files and telling the kernel how they will be read. None of this changes a
// file, so it stays outside the call table. Each returns what the system call does
// (a count, or -1 with errno set) unless it says otherwise.

#include <sys/types.h>

#include <cstddef>
#include <cstdint>

namespace keldwick::platform {

// read(2) from the file's position, and pread(2) from `offset` without moving it.
ssize_t readSome(int fd, void* into, std::size_t count);
ssize_t readAt(int fd, void* into, std::size_t count, off_t offset);

// Where the next data, or the next hole, of a sparse file begins at or after `from`
// (lseek(2) with SEEK_DATA or SEEK_HOLE): -1 with ENXIO where `from` is past the last data.
off_t seekData(int fd, off_t from);
off_t seekHole(int fd, off_t from);

// What the page cache is told about a range of a file (posix_fadvise(2)); `length` 0
// reaches the end. Advice only: a file system that can't take it changes nothing.
enum class CacheAdvice {
    dropPages,   // the clean pages may go, so the next read comes from the medium
    willNeed,    // read ahead now
    sequential,  // read in order: a wider read-ahead window
};
void adviseCache(int fd, off_t offset, off_t length, CacheAdvice advice) noexcept;

// Turns direct I/O (O_DIRECT, past the page cache) on or off for an open file. False
// where the file system refuses it; the file is then as it was.
bool setDirectIO(int fd, bool on);

// readlinkat(2): the target of the link `name` beneath `dirFd`, not terminated; the
// count, or -1 with errno set.
ssize_t readLinkAt(int dirFd, const char* name, char* into, std::size_t size);

// A uniformly random number below `bound` (which must be above 0), for sampling.
uint32_t randomBelow(uint32_t bound);

// lseek(2) to the end: the file's size as this descriptor sees it, or -1.
off_t seekToEnd(int fd);

}  // namespace keldwick::platform
