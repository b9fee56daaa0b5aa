#pragma once
// The program's objects live on the main thread; a call from anywhere else is a bug that
// would race with the event loop, so it stops the program and names the caller.

#include <source_location>

namespace keldwick {

void assertMainThread(std::source_location caller = std::source_location::current());

}  // namespace keldwick
