#include "engine/RepairOnFailure.h"

#include <exception>

#include "engine/RecoveryManager.h"

namespace keldwick {

void runRepairingOnFailure(const EngineContext& context, const LocatedDrive& located, int64_t recordID,
                           const std::string& lead, const std::function<void()>& steps,
                           const std::shared_ptr<const HomeFolder>& home) {
    try {
        steps();
    } catch (const std::exception& failure) {
        context.journal->log(lead + ": " + failure.what(), EventLevel::warning, recordID);
        if (!located.isStillThere()) throw;
        try {
            RecoveryManager repair(context);
            repair.holdHome(home);
            repair.recoverRecord(recordID, failure);
        } catch (const std::exception&) {
            // Logged by the repair itself.
        }
        throw;
    }
}

}  // namespace keldwick
