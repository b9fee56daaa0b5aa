#include "engine/EngineConfiguration.h"

#include "foundation/MachineIdentity.h"

namespace keldwick {

EngineConfiguration::EngineConfiguration()
    : machineID(MachineIdentity::current()), machineFolder(MachineIdentity::folderName()) {}

}  // namespace keldwick
