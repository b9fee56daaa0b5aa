#pragma once
// A clock that moves only when told to.

#include "foundation/Clock.h"

namespace keldwick::test {

class ManualClock final : public Clock {
public:
    ManualClock() = default;
    explicit ManualClock(Date start) : now_(start) {}
    Date now() const override { return now_; }
    void set(Date date) { now_ = date; }
    void advance(double seconds) { now_ = now_.adding(seconds); }

private:
    Date now_{1'800'000'000};
};

}  // namespace keldwick::test
