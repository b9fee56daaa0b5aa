#pragma once
// The System Data window's host in the running program: the program's model, whose slow
// calls already run off the main thread, and the installed apps for the icons of app
// files. Every change the model announces may redraw the window.

#include "systemdata/InstalledApps.h"
#include "systemdata/SystemDataHost.h"
#include "ui/AppModelWindowHost.h"

namespace keldwick {

class AppModelSystemDataHost final : public AppModelWindowHost<SystemDataHost> {
    Q_OBJECT

public:
    // `model` outlives the host.
    explicit AppModelSystemDataHost(AppModel& model, InstalledApps apps = InstalledApps(), QObject* parent = nullptr);

    void cacheLocations(std::function<void(std::vector<CacheLocation>)> done) override;
    void clearCaches(std::vector<CacheLocation> locations, std::function<void(CacheClearing)> done) override;
    void findMovable(std::function<void(std::vector<MovableData>)> done) override;
    void moveToDrive(std::vector<std::string> paths, std::function<void(std::optional<std::string>)> done) override;
    QIcon appIcon(const std::string& itemName) override;

private:
    InstalledApps apps_;
};

}  // namespace keldwick
