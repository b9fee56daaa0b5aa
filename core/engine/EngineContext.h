#pragma once
// The parts every engine component is given: built once by the engine and handed to its
// executors and to recovery. Shared services are held by reference; the configuration,
// copier and rules are values.

#include <memory>
#include <stdexcept>

#include "drives/DriveLocating.h"
#include "engine/DriveCopies.h"
#include "engine/EngineConfiguration.h"
#include "engine/FaultInjecting.h"
#include "engine/FileCopier.h"
#include "engine/IconPlacing.h"
#include "foundation/Clock.h"
#include "foundation/Journal.h"
#include "foundation/OpenFileChecking.h"
#include "scanning/ScanRule.h"

namespace keldwick {

struct EngineContext {
    std::shared_ptr<Journal> journal;
    std::shared_ptr<DriveLocating> locator;
    std::shared_ptr<OpenFileChecking> openFiles;
    std::shared_ptr<FaultInjecting> faults;
    std::shared_ptr<IconPlacing> icons;
    EngineConfiguration configuration;
    // Copies in chunks of configuration.chunkSize.
    FileCopier copier;
    // Every item is checked against these again right before it moves.
    RuleList rules;
    // Which drive copies hold others', shared by every operation on the journal.
    std::shared_ptr<DriveCopies> driveCopies;
    // The time the engine stamps (manifest entries): the journal's clock, so the drive's
    // records and the journal's agree.
    std::shared_ptr<const Clock> clock;

    // A context whose copier uses the configuration's chunk size; `journal` must be given
    // (std::invalid_argument), its clock is the engine's.
    static EngineContext make(std::shared_ptr<Journal> journal, std::shared_ptr<DriveLocating> locator,
                              std::shared_ptr<OpenFileChecking> openFiles, std::shared_ptr<FaultInjecting> faults,
                              std::shared_ptr<IconPlacing> icons, EngineConfiguration configuration, RuleList rules) {
        FileCopier copier(configuration.chunkSize);
        if (!journal) throw std::invalid_argument("the engine needs a journal");
        auto driveCopies = std::make_shared<DriveCopies>(journal);
        auto clock = journal->clock();
        return EngineContext{std::move(journal), std::move(locator),      std::move(openFiles),
                             std::move(faults),  std::move(icons),        std::move(configuration),
                             copier,             std::move(rules),        std::move(driveCopies),
                             std::move(clock)};
    }
};

}  // namespace keldwick
