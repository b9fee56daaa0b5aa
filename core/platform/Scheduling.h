#pragma once
// What a background thread asks of the kernel for itself: its id, a lower CPU and I/O
// priority, and the heap's freed memory handed back.

#include <sys/types.h>

namespace keldwick::platform {

// The calling thread's kernel id (gettid(2)): on Linux nice and the I/O class belong to it.
pid_t currentThreadId();

// Raises the thread's nice value by `steps`, to at most 19 and never below where it is, so
// a program started niced stays niced. True when the thread ends at that value.
bool raiseNice(pid_t thread, int steps);

// Puts the thread's I/O in the idle class (ioprio_set(2)): it gets the disk only when no
// one else wants it. True when the kernel took it.
bool setIdleIoClass(pid_t thread);

// Hands the heap's freed pages back to the system (malloc_trim(3)).
void releaseFreedMemory();

}  // namespace keldwick::platform
