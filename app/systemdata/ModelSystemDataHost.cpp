#include "systemdata/ModelSystemDataHost.h"

#include "model/AppModel.h"
#include "model/ModelChanges.h"

namespace keldwick {

ModelSystemDataHost::ModelSystemDataHost(AppModel& model, InstalledApps apps, QObject* parent)
    : SystemDataHost(parent), model_(model), apps_(std::move(apps)) {
    connectEveryChange(model_, *this, QMetaMethod::fromSignal(&SystemDataHost::stateChanged));
}

const ModelState& ModelSystemDataHost::state() const { return model_.state(); }

Date ModelSystemDataHost::now() const { return model_.services().clock->now(); }

void ModelSystemDataHost::cacheLocations(std::function<void(std::vector<CacheLocation>)> done) {
    model_.cacheLocations(std::move(done));
}

void ModelSystemDataHost::clearCaches(std::vector<CacheLocation> locations, std::function<void(CacheClearing)> done) {
    model_.clearCaches(std::move(locations), std::move(done));
}

void ModelSystemDataHost::findMovable(std::function<void(std::vector<MovableData>)> done) {
    model_.movableSystemData(std::move(done));
}

void ModelSystemDataHost::moveToDrive(std::vector<std::string> paths,
                                      std::function<void(std::optional<std::string>)> done) {
    model_.moveToDrive(paths, std::move(done));
}

QIcon ModelSystemDataHost::appIcon(const std::string& itemName) { return apps_.icon(itemName); }

}  // namespace keldwick
