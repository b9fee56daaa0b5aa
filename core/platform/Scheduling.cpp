#include "platform/Scheduling.h"

#include <malloc.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace keldwick::platform {

namespace {

// linux/ioprio.h is not in every libc's headers; the values are the kernel's ABI.
constexpr int ioprioWhoProcess = 1;
constexpr int ioprioClassIdle = 3;
constexpr int ioprioClassShift = 13;
constexpr int maximumNice = 19;

}  // namespace

pid_t currentThreadId() { return static_cast<pid_t>(::syscall(SYS_gettid)); }

bool raiseNice(pid_t thread, int steps) {
    errno = 0;
    const int current = ::getpriority(PRIO_PROCESS, static_cast<id_t>(thread));
    if (errno != 0) return false;
    const int raised = std::min(current + steps, maximumNice);
    return raised <= current || ::setpriority(PRIO_PROCESS, static_cast<id_t>(thread), raised) == 0;
}

bool setIdleIoClass(pid_t thread) {
    return ::syscall(SYS_ioprio_set, ioprioWhoProcess, thread, ioprioClassIdle << ioprioClassShift) == 0;
}

void releaseFreedMemory() { ::malloc_trim(0); }

}  // namespace keldwick::platform
