#include "systemdata/AppModelSystemDataHost.h"

#include "model/AppModel.h"

namespace keldwick {

AppModelSystemDataHost::AppModelSystemDataHost(AppModel& model, InstalledApps apps, QObject* parent)
    : AppModelWindowHost(model, {}, parent), apps_(std::move(apps)) {}

void AppModelSystemDataHost::cacheLocations(std::function<void(std::vector<CacheLocation>)> done) {
    model_.cacheLocations(std::move(done));
}

void AppModelSystemDataHost::clearCaches(std::vector<CacheLocation> locations, std::function<void(CacheClearing)> done) {
    model_.clearCaches(std::move(locations), std::move(done));
}

void AppModelSystemDataHost::findMovable(std::function<void(std::vector<MovableData>)> done) {
    model_.movableSystemData(std::move(done));
}

void AppModelSystemDataHost::moveToDrive(std::vector<std::string> paths,
                                      std::function<void(std::optional<std::string>)> done) {
    model_.moveToDrive(paths, std::move(done));
}

QIcon AppModelSystemDataHost::appIcon(const std::string& itemName) { return apps_.icon(itemName); }

}  // namespace keldwick
