#pragma once
// A fault injector for tests that runs code at chosen points instead of crashing, so a
// race (a file edited between copy and swap, a link replaced) happens deterministically.
// It also remembers every point reached, in order.

#include <functional>
#include <map>
#include <mutex>
#include <vector>

#include "engine/FaultInjecting.h"

namespace keldwick::test {

class FaultActions final : public FaultInjecting {
public:
    using Action = std::function<void(const FaultContext&)>;

    // Runs `action` each time `point` is reached (it may throw to end the road there).
    FaultActions& at(FaultPoint point, Action action) {
        std::lock_guard guard(lock_);
        actions_[point].push_back(std::move(action));
        return *this;
    }

    // Runs `action` only the first time `point` is reached.
    FaultActions& onceAt(FaultPoint point, Action action) {
        auto fired = std::make_shared<bool>(false);
        return at(point, [fired, action = std::move(action)](const FaultContext& context) {
            if (*fired) return;
            *fired = true;
            action(context);
        });
    }

    void reach(FaultPoint point, const FaultContext& context) override {
        std::vector<Action> toRun;
        {
            std::lock_guard guard(lock_);
            reached_.push_back(point);
            contexts_.push_back(context);
            auto found = actions_.find(point);
            if (found != actions_.end()) toRun = found->second;
        }
        for (auto& action : toRun) action(context);
    }

    std::vector<FaultPoint> reached() const {
        std::lock_guard guard(lock_);
        return reached_;
    }
    std::vector<FaultContext> contexts() const {
        std::lock_guard guard(lock_);
        return contexts_;
    }

private:
    mutable std::mutex lock_;
    std::map<FaultPoint, std::vector<Action>> actions_;
    std::vector<FaultPoint> reached_;
    std::vector<FaultContext> contexts_;
};

}  // namespace keldwick::test
