#include "engine/EngineConfiguration.h"

namespace keldwick {

EngineConfiguration::EngineConfiguration() = default;

}  // namespace keldwick
