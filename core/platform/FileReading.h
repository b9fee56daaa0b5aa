#pragma once
// Reading open files. Each call behaves as the system call it is named after: the count
// read (0 at the end), or -1 with errno set; interrupted reads are left to the caller.

#include <cstddef>

#include "platform/Types.h"

namespace keldwick::platform {

// read(2) and pread(2).
ssize_t readSome(int fd, void* into, std::size_t size);
ssize_t readAt(int fd, void* into, std::size_t size, off_t offset);

// lseek(2) to the end: the file's size as this descriptor sees it, or -1.
off_t seekToEnd(int fd);

// Hints for the page cache (posix_fadvise(2)), ignored where refused: the file will be
// read front to back; the pages of a range already read may go.
void adviseSequential(int fd);
void adviseDropCached(int fd, off_t offset, off_t length);

}  // namespace keldwick::platform
