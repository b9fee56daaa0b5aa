// The caches and system data the user clears or moves.

#include "foundation/OpenFileChecking.h"
#include "model/AppModel.h"
#include "model/StatusTexts.h"

namespace keldwick {


void AppModel::cacheLocations(std::function<void(std::vector<CacheLocation>)> done, WorkPriority priority) {
    assertMainThread();
    auto relay = relay_.shared();
    services_.background->run(priority, [relay, home = state_.home, done = std::move(done)] {
        auto locations = std::make_shared<std::vector<CacheLocation>>(measuredCacheLocations(home));
        relay->post([locations, done] { done(std::move(*locations)); });
    });
}

void AppModel::clearCaches(std::vector<CacheLocation> locations, std::function<void(CacheClearing)> done,
                           WorkPriority priority) {
    assertMainThread();
    // Beside an engine operation the clearing leaves that operation's activity alone.
    const bool showsClearing = state_.activity == Activity::idle;
    if (showsClearing) modelStore_.set<ModelField::activity>(Activity::clearing);
    auto relay = relay_.shared();
    services_.background->run(priority, [this, relay, showsClearing, locations = std::move(locations),
                                         journal = journal_, done = std::move(done)] {
        const CacheClearing cleared = clearCacheLocations(locations, ProcessOpenFileChecker());
        try {
            journal->log(cachesClearedMessage(cleared.freed), EventLevel::info);
        } catch (const std::exception&) {
            // The clearing happened all the same; only its line in the log is missing.
        }
        relay->post([this, showsClearing, cleared, done] {
            refresh([this, showsClearing, cleared, done] {
                if (showsClearing && state_.activity == Activity::clearing)
                    modelStore_.set<ModelField::activity>(Activity::idle);
                if (done) done(cleared);
            });
        });
    });
}

void AppModel::movableSystemData(std::function<void(std::vector<MovableData>)> done) {
    assertMainThread();
    auto relay = relay_.shared();
    services_.background->run(WorkPriority::user, [relay, home = state_.home, done = std::move(done)] {
        auto found = std::make_shared<std::vector<MovableData>>(findMovableSystemData(home));
        relay->post([found, done] { done(std::move(*found)); });
    });
}

}  // namespace keldwick
