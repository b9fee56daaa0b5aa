#pragma once
// The model's wall clock, injected so tests run a day of the model's life instantly.

#include "foundation/Date.h"

namespace keldwick {

class Clock {
public:
    virtual ~Clock() = default;
    virtual Date now() const = 0;
};

class SystemClock final : public Clock {
public:
    Date now() const override { return Date::now(); }
};

}  // namespace keldwick
