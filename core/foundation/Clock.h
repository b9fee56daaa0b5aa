#pragma once
// The wall clock, injected: the journal, the engine and the drive code read the time only
// through one, so the program and its tests decide what "now" is for the core as well, and
// a day's schedule or a clock set back can be run instantly.

#include <memory>

#include "foundation/Date.h"

namespace keldwick {

class Clock {
public:
    virtual ~Clock() = default;
    virtual Date now() const = 0;

    // The real clock, shared: what the program hands down from its start.
    static std::shared_ptr<const Clock> system();
};

// The system's real-time clock.
class SystemClock final : public Clock {
public:
    Date now() const override;
};

}  // namespace keldwick
