// A recovery pass or a check made while the drive is away asks where the drive is once
// per item, so that question must cost what this machine's mounts cost, not more with
// each item. Asks the system's locator (the real mount table and sysfs) 10,000 times
// for a drive that no volume carries, and prints the microseconds per question beside the
// number of mounts searched. Under `strace -c -f` it shows the system calls per question.
//
// KELDWICK_SEARCHES changes the number of questions.

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "drives/VolumeDriveLocator.h"

using namespace keldwick;
using SteadyClock = std::chrono::steady_clock;

int main() {
    const char* given = std::getenv("KELDWICK_SEARCHES");
    const long searches = given && std::atol(given) > 0 ? std::atol(given) : 10'000;
    auto source = std::make_shared<SystemVolumeSource>();
    VolumeDriveLocator locator(source);
    const std::string away = "5A3B9C1D-0000-4000-8000-0000000A11A7";

    const auto start = SteadyClock::now();
    long found = 0;
    for (long i = 0; i < searches; ++i) found += locator.mountPoint(away).has_value();
    const double seconds = std::chrono::duration<double>(SteadyClock::now() - start).count();
    if (found != 0) {
        std::fprintf(stderr, "a volume claims to be the missing drive\n");
        return 1;
    }
    std::printf("%ld searches for a drive that is away, %zu mounts searched each: %.2f us per search\n", searches,
                source->candidates().size(), seconds * 1e6 / static_cast<double>(searches));
    return 0;
}
