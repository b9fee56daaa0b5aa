#pragma once
// What the model asks of an engine, as an interface so tests can script one. The program's
// engine is the core's OffloadEngine (CoreEngine below); the model builds a new one through
// an EngineFactory whenever the drive or the rules change.

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "drives/Drive.h"
#include "drives/DriveLocating.h"
#include "engine/IconPlacing.h"
#include "engine/OffloadEngine.h"
#include "foundation/CancellationFlag.h"
#include "foundation/Journal.h"
#include "scanning/AppSettings.h"
#include "scanning/ScanRule.h"

namespace keldwick {

class EngineOperations {
public:
    using Cancel = std::shared_ptr<CancellationFlag>;
    using Progress = OffloadEngine::ProgressCallback;

    virtual ~EngineOperations() = default;

    virtual const Drive& drive() const = 0;
    virtual RunSummary run(const OffloadPlan& plan, bool dryRun, const Cancel& cancel, const Progress& progress) = 0;
    virtual OffloadRecord restore(int64_t recordID, const Cancel& cancel, const Progress& progress) = 0;
    virtual OffloadRecord restoreAsCopy(int64_t recordID, const Cancel& cancel, const Progress& progress) = 0;
    virtual RunSummary restoreAll(const Cancel& cancel, const Progress& progress) = 0;
    virtual void discardDriveCopy(int64_t recordID) = 0;
    virtual std::vector<RecoveryResult> recover() = 0;
};

// What an engine is built from: the rest (open-file checker, faults) is the factory's.
struct EngineSpec {
    std::shared_ptr<Journal> journal;
    Drive drive;
    std::shared_ptr<DriveLocating> locator;
    RuleList rules;
    std::shared_ptr<IconPlacing> icons;
    EngineConfiguration configuration;
};

// The engine's configuration from the settings and the user's home (items found in a
// drive's manifest are taken back only for places inside it). The one place a setting the
// engine honours is handed to it; such a setting's follow-up is SettingFollowUp::engine, so
// a change rebuilds the engine with the new value.
EngineConfiguration engineConfiguration(const AppSettings& settings, const std::string& home);

using EngineFactory = std::function<std::shared_ptr<EngineOperations>(const EngineSpec&)>;

// The core's engine behind the interface.
class CoreEngine final : public EngineOperations {
public:
    explicit CoreEngine(const EngineSpec& spec);

    OffloadEngine& engine() { return engine_; }

    const Drive& drive() const override { return engine_.drive(); }
    RunSummary run(const OffloadPlan& plan, bool dryRun, const Cancel& cancel, const Progress& progress) override;
    OffloadRecord restore(int64_t recordID, const Cancel& cancel, const Progress& progress) override;
    OffloadRecord restoreAsCopy(int64_t recordID, const Cancel& cancel, const Progress& progress) override;
    RunSummary restoreAll(const Cancel& cancel, const Progress& progress) override;
    void discardDriveCopy(int64_t recordID) override;
    std::vector<RecoveryResult> recover() override;

    // Builds CoreEngines with the process open-file checker, no faults and the EngineSpec's
    // configuration.
    static EngineFactory factory();

private:
    OffloadEngine engine_;
};

}  // namespace keldwick
