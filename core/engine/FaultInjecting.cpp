#include "engine/FaultInjecting.h"

namespace keldwick {

SimulatedCrash::SimulatedCrash(FaultPoint point)
    : std::runtime_error("Simulated crash at \u201C" + toString(point) + "\u201D."), point_(point) {}

void CrashAt::reach(FaultPoint point, const FaultContext&) {
    if (toString(point) == toString(point_)) throw SimulatedCrash(point);
}

}  // namespace keldwick
