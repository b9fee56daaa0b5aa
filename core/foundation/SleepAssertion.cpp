#include "foundation/SleepAssertion.h"

#include "foundation/Log.h"
#include "platform/LogindInhibitor.h"

namespace keldwick {

SleepAssertion::SleepAssertion(const std::string& reason)
    : SleepAssertion(reason, [](const std::string& why) {
          auto result = platform::inhibitIdle("Keldwick", why);
          if (const int* fd = std::get_if<int>(&result)) return *fd;
          Log::notice("power", "Idle sleep isn't held off (" + std::get<platform::InhibitorRefused>(result).reason +
                                   "): " + why);
          return -1;
      }) {}

SleepAssertion::SleepAssertion(const std::string& reason, const Inhibitor& inhibitor) {
    const int fd = inhibitor ? inhibitor(reason) : -1;
    if (fd >= 0) descriptor_.reset(fd);
}

SleepAssertion::~SleepAssertion() = default;

}  // namespace keldwick
