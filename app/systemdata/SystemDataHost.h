#pragma once
// What the "System Data" window asks of the program's model besides its state and clock:
// measuring and clearing caches, the search for movable system data and a manual move.
// The slow calls run off the main thread and call back on it. The program hands an
// AppModelSystemDataHost; tests hand a recording stand-in. Main thread only.

#include <QIcon>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "model/SpaceCalls.h"
#include "space/CacheLocation.h"
#include "space/MovableData.h"
#include "ui/WindowHost.h"

namespace keldwick {

class SystemDataHost : public WindowHost {
    Q_OBJECT

public:
    using WindowHost::WindowHost;
    ~SystemDataHost() override = default;

    // The cache locations with fresh sizes.
    virtual void cacheLocations(std::function<void(std::vector<CacheLocation>)> done) = 0;
    // Empties the locations; what was freed and how many entries stayed.
    virtual void clearCaches(std::vector<CacheLocation> locations, std::function<void(CacheClearing)> done) = 0;
    // Large system data under the home folder that could move.
    virtual void findMovable(std::function<void(std::vector<MovableData>)> done) = 0;
    // Moves the items like any hand-picked ones; the explanation when something stayed.
    virtual void moveToDrive(std::vector<std::string> paths,
                             std::function<void(std::optional<std::string>)> done) = 0;
    // The icon of the installed app that keeps its files in a folder called `itemName`;
    // a null icon when no app does.
    virtual QIcon appIcon(const std::string& itemName) = 0;
};

}  // namespace keldwick
