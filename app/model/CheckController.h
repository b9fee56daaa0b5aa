#pragma once
// The automatic check and what it sets going: the one pending check and its timer, a check
// asked for while one runs, caches cleared when space is low, the decision, the scan and
// its stalls, then a run or the question before the first one. It writes the check's
// fields of the store's state and does the rest through the model (Steps). Main thread
// only; its timer ends with it.

#include <QObject>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "foundation/Journal.h"
#include "model/AppServices.h"
#include "model/BackgroundWork.h"
#include "model/EngineOperations.h"
#include "model/ModelStore.h"
#include "model/Notice.h"
#include "model/OperationsController.h"
#include "model/ScanFindings.h"
#include "model/SettingsController.h"
#include "model/SpaceCalls.h"

namespace keldwick {

class CheckController final : public QObject {
    Q_OBJECT

public:
    using Done = std::function<void()>;

    // Timings of the waits, in seconds.
    static constexpr double firstCheckDelay = 10;      // after start-up recovery
    static constexpr double afterWakeCheckDelay = 30;  // after the computer wakes

    // What a check does through the rest of the model.
    class Steps {
    public:
        virtual ~Steps() = default;
        // Reads free space, the drive and the records afresh; `done` once they are shown.
        virtual void refresh(Done done) = 0;
        virtual void cacheLocations(std::function<void(std::vector<CacheLocation>)> done, WorkPriority priority) = 0;
        virtual void clearCaches(std::vector<CacheLocation> locations, std::function<void(CacheClearing)> done,
                                 WorkPriority priority) = 0;
        // Remembers (across restarts) that caches were cleared automatically today.
        virtual void stampAutomaticCacheClear() = 0;
        virtual void openPreview(PreviewKind kind, std::optional<int64_t> goal, std::optional<ScanFindings> findings,
                                 bool showWindow) = 0;
        virtual void post(const Notice& notice) = 0;
        // Remembers (across restarts) when a stall was last told of.
        virtual void setLastStallNotice(std::optional<StallNotice> notice) = 0;
        virtual const std::shared_ptr<Journal>& journal() const = 0;
    };

    // `store`, `services`, `settings`, `operations` and `steps` outlive the controller.
    CheckController(ModelStore& store, const AppServices& services, SettingsController& settings,
                    OperationsController& operations, Steps& steps, BackgroundWork work, QObject* parent = nullptr);

    // Refreshes, clears caches when low, decides, and scans and moves or asks when space is
    // short. Asked for while a check runs, a check runs once more after it: the running one
    // may have read what came before the change. `done` after the check (or that one more).
    void check(Done done = {});
    // Recovery, a first check, then the periodic check.
    void startChecking(Done done = {});
    // (Re)arms the one pending check: after `seconds`, or the regular interval.
    void scheduleCheck(std::optional<double> seconds = std::nullopt);
    // After a check: the regular interval, unless a sooner check was asked for meanwhile.
    void scheduleCheckAfterCheck();
    // Scans for an automatic run: none without a drive, while a stall less than an hour
    // old holds scans back, or when nothing could be planned (a stall, noticed at most once
    // a day for each kind).
    void findings(int64_t bytesNeeded, std::function<void(std::optional<ScanFindings>)> done);

private:
    Date now() const { return services_.clock->now(); }
    void clearCachesWhenLow(Done next);
    void decideAndAct(Done finish);

    ModelStore& store_;
    const ModelState& state_;
    const AppServices& services_;
    SettingsController& settings_;
    OperationsController& operations_;
    Steps& steps_;
    BackgroundWork work_;
    std::unique_ptr<Timer> checkTask_;
    bool checkPending_ = false;  // checkTask_ has yet to fire
    // Set when a check is asked for during one: one more runs after it, then calls these.
    std::optional<std::vector<Done>> nextCheckWaiters_;
};

}  // namespace keldwick
