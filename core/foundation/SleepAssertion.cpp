#include "foundation/SleepAssertion.h"

#include <unistd.h>

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
    descriptor_ = inhibitor ? inhibitor(reason) : -1;
    if (descriptor_ < 0) descriptor_ = -1;
}

SleepAssertion::~SleepAssertion() {
    if (descriptor_ >= 0) ::close(descriptor_);
}

}  // namespace keldwick
