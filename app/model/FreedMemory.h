#pragma once
// Gives memory the program freed back to the system, and frees large lists of records off
// the main thread. A refresh reads every record on a worker thread and the main thread
// drops the list it replaces: freeing 100,000 records there takes tens of milliseconds,
// and afterwards megabytes lie free in the allocator's per-thread pools, which glibc keeps
// mapped (a journal of 100,000 records then held twice its size in freed memory for good).

#include "model/RecordList.h"

namespace keldwick {

// At the calling thread's next turn of its event loop (once what the caller is about to
// free is freed), returns the free memory of every pool to the system on a thread of Qt's
// global pool: trimming a large heap takes milliseconds the main thread shouldn't spend.
// Calls made while one is pending join it.
void releaseFreedMemorySoon();

// Drops `records` on a thread of Qt's global pool, then gives the memory back, in that
// order on that thread, and as above.
// Where another holder still shares the list, that holder frees it later.
void releaseElsewhere(RecordList records);

}  // namespace keldwick
