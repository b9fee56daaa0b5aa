#include "engine/FaultInjecting.h"

#include "foundation/Formatting.h"

namespace keldwick {

SimulatedCrash::SimulatedCrash(FaultPoint point)
    : point_(point), message_("Simulated crash at " + quoted(toString(point)) + ".") {}

void CrashAt::reach(FaultPoint point, const FaultContext&) {
    if (toString(point) == toString(point_)) throw SimulatedCrash(point);
}

}  // namespace keldwick
