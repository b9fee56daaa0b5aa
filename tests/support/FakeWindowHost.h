#pragma once
// The part every window test's host shares: the model's state kept in memory, a clock
// that stands still until told otherwise, and changes announced as the model does.

#include "foundation/Date.h"
#include "model/ModelState.h"

namespace keldwick::test {

template <class Host>
class FakeWindowHost : public Host {
public:
    ModelState model;
    Date clock{1'800'000'000};

    const ModelState& state() const override { return model; }
    Date now() const override { return clock; }
    // Announces a change of `model`.
    void changed() { emit this->stateChanged(); }
};

}  // namespace keldwick::test
