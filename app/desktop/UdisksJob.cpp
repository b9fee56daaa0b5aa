#include "desktop/UdisksJob.h"

#include <algorithm>

namespace keldwick::UdisksJob {

bool takesVolumesAway(const std::string& operation) {
    return operation == "filesystem-unmount" || operation == "drive-eject" || operation == "drive-power-off";
}

std::vector<std::string> mountPoints(const std::vector<std::string>& jobObjects,
                                     const std::vector<UdisksBlock>& blocks) {
    auto named = [&](const std::string& path) {
        return path != "/" && std::find(jobObjects.begin(), jobObjects.end(), path) != jobObjects.end();
    };
    std::vector<std::string> points;
    for (const auto& block : blocks) {
        if (!named(block.objectPath) && !named(block.drive)) continue;
        for (const auto& point : block.mountPoints) {
            if (std::find(points.begin(), points.end(), point) == points.end()) points.push_back(point);
        }
    }
    return points;
}

}  // namespace keldwick::UdisksJob
