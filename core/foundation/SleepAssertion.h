#pragma once
// Keeps the system from idle-sleeping while the object lives, through logind's "idle"
// inhibitor. Creating one never fails: without a system bus or logind it stays inactive
// and says so in the system log.

#include <functional>
#include <string>

#include "platform/FileIO.h"

namespace keldwick {

class SleepAssertion {
public:
    // Takes an inhibitor for `reason` and returns its descriptor, or -1 with nothing taken.
    using Inhibitor = std::function<int(const std::string& reason)>;

    explicit SleepAssertion(const std::string& reason);
    // For tests: another source of inhibitors.
    SleepAssertion(const std::string& reason, const Inhibitor& inhibitor);
    ~SleepAssertion();
    SleepAssertion(const SleepAssertion&) = delete;
    SleepAssertion& operator=(const SleepAssertion&) = delete;

    // The inhibitor was taken and is held until the object goes.
    bool active() const { return descriptor_.valid(); }
    // The held inhibitor's descriptor (-1 when inactive); closing it ends the inhibitor.
    int descriptor() const { return descriptor_.get(); }

private:
    platform::Fd descriptor_;
};

}  // namespace keldwick
