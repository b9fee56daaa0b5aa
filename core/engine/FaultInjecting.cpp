#include "engine/FaultInjecting.h"

namespace keldwick {

SimulatedCrash::SimulatedCrash(FaultPoint point)
    : point_(point), message_("Simulated crash at \u201C" + toString(point) + "\u201D.") {}

void CrashAt::reach(FaultPoint point, const FaultContext&) {
    if (toString(point) == toString(point_)) throw SimulatedCrash(point);
}

}  // namespace keldwick
