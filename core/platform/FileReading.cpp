#include "platform/FileReading.h"

#include <fcntl.h>
#include <sys/random.h>
#include <unistd.h>

#include <cstdlib>

namespace keldwick::platform {

ssize_t readSome(int fd, void* into, std::size_t count) { return ::read(fd, into, count); }
ssize_t readAt(int fd, void* into, std::size_t count, off_t offset) { return ::pread(fd, into, count, offset); }

off_t seekData(int fd, off_t from) { return ::lseek(fd, from, SEEK_DATA); }
off_t seekHole(int fd, off_t from) { return ::lseek(fd, from, SEEK_HOLE); }

void adviseCache(int fd, off_t offset, off_t length, CacheAdvice advice) noexcept {
    int systemAdvice = POSIX_FADV_NORMAL;
    switch (advice) {
        case CacheAdvice::dropPages: systemAdvice = POSIX_FADV_DONTNEED; break;
        case CacheAdvice::willNeed: systemAdvice = POSIX_FADV_WILLNEED; break;
        case CacheAdvice::sequential: systemAdvice = POSIX_FADV_SEQUENTIAL; break;
    }
    (void)::posix_fadvise(fd, offset, length, systemAdvice);
}

bool setDirectIO(int fd, bool on) {
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0) return false;
    return ::fcntl(fd, F_SETFL, on ? flags | O_DIRECT : flags & ~O_DIRECT) == 0;
}

ssize_t readLinkAt(int dirFd, const char* name, char* into, std::size_t size) {
    return ::readlinkat(dirFd, name, into, size);
}

uint32_t randomBelow(uint32_t bound) { return ::arc4random_uniform(bound); }


off_t seekToEnd(int fd) { return ::lseek(fd, 0, SEEK_END); }

}  // namespace keldwick::platform
