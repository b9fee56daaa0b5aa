#include "model/EngineOperations.h"

namespace keldwick {

// No setting tunes the engine yet; its tuning constants keep their defaults.
EngineConfiguration engineConfiguration([[maybe_unused]] const AppSettings& settings, const std::string& home) {
    EngineConfiguration configuration;
    configuration.homeFolder = home;
    return configuration;
}

CoreEngine::CoreEngine(const EngineSpec& spec)
    : engine_(spec.journal, spec.drive, spec.locator, std::make_shared<ProcessOpenFileChecker>(), spec.rules,
              std::make_shared<NoFaults>(), spec.icons ? spec.icons : std::make_shared<NoIconPlacing>(),
              spec.configuration) {}

RunSummary CoreEngine::run(const OffloadPlan& plan, bool dryRun, const Cancel& cancel, const Progress& progress) {
    return engine_.run(plan, dryRun, cancel, progress);
}

OffloadRecord CoreEngine::restore(int64_t recordID, const Cancel& cancel, const Progress& progress) {
    return engine_.restore(recordID, cancel, progress);
}

OffloadRecord CoreEngine::restoreAsCopy(int64_t recordID, const Cancel& cancel, const Progress& progress) {
    return engine_.restoreAsCopy(recordID, cancel, progress);
}

RunSummary CoreEngine::restoreAll(const Cancel& cancel, const Progress& progress) {
    return engine_.restoreAll(cancel, progress);
}

void CoreEngine::discardDriveCopy(int64_t recordID) { engine_.discardDriveCopy(recordID); }

std::vector<RecoveryResult> CoreEngine::recover() { return engine_.recover(); }

EngineFactory CoreEngine::factory() {
    return [](const EngineSpec& spec) { return std::make_shared<CoreEngine>(spec); };
}

}  // namespace keldwick
