#include "foundation/BackgroundThread.h"

#include "platform/Scheduling.h"

namespace keldwick::BackgroundThread {

namespace {
constexpr int backgroundNice = 10;
}

bool lowerPriority() {
    const pid_t thread = platform::currentThreadId();
    const bool niced = platform::raiseNice(thread, backgroundNice);
    const bool idle = platform::setIdleIoClass(thread);
    return niced && idle;
}

void releaseFreedMemory() { platform::releaseFreedMemory(); }

}  // namespace keldwick::BackgroundThread
