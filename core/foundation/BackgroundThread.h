#pragma once
// What the program's background threads ask of the system, through the platform layer, so
// that work nobody waits for leaves the CPU and the disk to what the user does.

namespace keldwick::BackgroundThread {

// Lowers the calling thread: nice raised by 10 (to at most 19, never lowered) and its I/O
// in the idle class. True when both took; a thread that stays higher still works.
bool lowerPriority();

// Hands the heap's freed memory back to the system, after a large list was let go.
void releaseFreedMemory();

}  // namespace keldwick::BackgroundThread
