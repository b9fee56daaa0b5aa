#pragma once
// The seam through which tests stop or disturb the engine at a step boundary. The
// executors call reach() at each FaultPoint; whatever it throws ends the road there,
// leaving the journal and the disk as a crash at that point would.

#include <cstdint>
#include <optional>
#include <string>

#include "engine/FaultPoint.h"

namespace keldwick {

struct FaultContext {
    int64_t recordID = 0;
    std::string originalPath;
    std::optional<std::string> workingCopyPath;  // the temporary copy being written, if any

    bool operator==(const FaultContext&) const = default;
};

class FaultInjecting {
public:
    virtual ~FaultInjecting() = default;
    virtual void reach(FaultPoint point, const FaultContext& context) = 0;
};

// What the program uses: never throws.
class NoFaults final : public FaultInjecting {
public:
    void reach(FaultPoint, const FaultContext&) override {}
};

// A crash at one point. It must pass every handler untouched, with no clean-up and no
// failure event, as the process's end would; so it is deliberately not a std::exception,
// and no handler that catches errors in general can take it for one and carry on.
class SimulatedCrash {
public:
    explicit SimulatedCrash(FaultPoint point);
    FaultPoint point() const { return point_; }
    const char* what() const noexcept { return message_.c_str(); }
    friend bool operator==(const SimulatedCrash& a, const SimulatedCrash& b) { return a.point_ == b.point_; }

private:
    FaultPoint point_;
    std::string message_;
};

// Throws SimulatedCrash at `point` and lets every other point pass.
class CrashAt final : public FaultInjecting {
public:
    explicit CrashAt(FaultPoint point) : point_(point) {}
    FaultPoint point() const { return point_; }
    void reach(FaultPoint point, const FaultContext&) override;

private:
    FaultPoint point_;
};

}  // namespace keldwick
