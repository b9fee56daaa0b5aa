#pragma once
// The clocks as the kernel keeps them, for noticing that the computer slept or that the
// wall clock was set.

#include "platform/FileIO.h"

namespace keldwick::platform {

// How long the computer has been suspended since it started: the boot clock, which
// counts sleep, less the monotonic clock, which doesn't.
double suspendedSeconds();

// A timer on the wall clock that becomes readable when the clock is set or jumps (a
// timerfd armed with TFD_TIMER_CANCEL_ON_SET), non-blocking and close-on-exec. On failure
// the Fd is invalid and errno says why.
Fd openClockJumpTimer();
// Arms `fd` again (a jump disarms it). False with errno set where the kernel refuses.
bool armClockJumpTimer(int fd);
// Takes the jump's notice from the timer so it stops being readable until the next jump.
void clearClockJump(int fd);

}  // namespace keldwick::platform
