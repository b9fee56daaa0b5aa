#include "platform/ClockJumps.h"

#include <sys/timerfd.h>
#include <unistd.h>

#include <cstdint>
#include <ctime>

namespace keldwick::platform {

namespace {

double seconds(clockid_t clock) {
    timespec now{};
    ::clock_gettime(clock, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

}  // namespace

double suspendedSeconds() { return seconds(CLOCK_BOOTTIME) - seconds(CLOCK_MONOTONIC); }

Fd openClockJumpTimer() {
    Fd fd(::timerfd_create(CLOCK_REALTIME, TFD_NONBLOCK | TFD_CLOEXEC));
    if (fd && !armClockJumpTimer(fd.get())) {
        const int error = errno;
        fd.reset();
        errno = error;
    }
    return fd;
}

bool armClockJumpTimer(int fd) {
    // Set to expire in about a century: only its cancellation on a clock jump is wanted.
    itimerspec when{};
    when.it_value.tv_sec = ::time(nullptr) + 100LL * 365 * 24 * 3600;
    return ::timerfd_settime(fd, TFD_TIMER_ABSTIME | TFD_TIMER_CANCEL_ON_SET, &when, nullptr) == 0;
}

void clearClockJump(int fd) {
    // A cancelled timerfd answers ECANCELED and stays readable until armed again.
    uint64_t expirations = 0;
    [[maybe_unused]] const ssize_t read = ::read(fd, &expirations, sizeof expirations);
}

}  // namespace keldwick::platform
