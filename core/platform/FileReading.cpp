#include "platform/FileReading.h"

#include <fcntl.h>
#include <unistd.h>

namespace keldwick::platform {

ssize_t readSome(int fd, void* into, std::size_t size) { return ::read(fd, into, size); }
ssize_t readAt(int fd, void* into, std::size_t size, off_t offset) { return ::pread(fd, into, size, offset); }
off_t seekToEnd(int fd) { return ::lseek(fd, 0, SEEK_END); }
void adviseSequential(int fd) { (void)::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL); }
void adviseDropCached(int fd, off_t offset, off_t length) {
    (void)::posix_fadvise(fd, offset, length, POSIX_FADV_DONTNEED);
}

}  // namespace keldwick::platform
