#include "foundation/Clock.h"

namespace keldwick {

Date SystemClock::now() const { return Date::now(); }

std::shared_ptr<const Clock> Clock::system() {
    static const std::shared_ptr<const Clock> clock = std::make_shared<SystemClock>();
    return clock;
}

}  // namespace keldwick
