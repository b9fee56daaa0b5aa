#pragma once
// The failure road both executors share once their record exists: a step that fails is
// logged, the record is repaired from its phase at once, and the failure goes on to the
// caller.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "engine/EngineContext.h"
#include "engine/HomeFolder.h"
#include "engine/LocatedDrive.h"

namespace keldwick {

// Runs `steps`. When they throw an error (a std::exception), logs "<lead>: <error>" as a
// warning on the record, repairs the record from its phase (only while the drive is still
// where `located` found it: otherwise a repair could judge the folder it was mounted at,
// and the record waits for a recovery that finds the drive), and rethrows that error. A
// repair that fails reports its own trouble; the steps' error is what the caller needs.
// Anything else thrown (a simulated crash) passes untouched, as after a real crash.
// `home`, once the steps set it, is the item's folder as they held it: the repair acts in
// that folder too, not in whatever its path names by then.
void runRepairingOnFailure(const EngineContext& context, const LocatedDrive& located, int64_t recordID,
                           const std::string& lead, const std::function<void()>& steps,
                           const std::shared_ptr<const HomeFolder>& home);

}  // namespace keldwick
