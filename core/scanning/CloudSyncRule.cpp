#include "scanning/CloudSyncRule.h"

#include <utility>
#include <vector>

#include "foundation/PathUtil.h"

namespace keldwick {

namespace {

const std::vector<std::pair<std::string, std::string>>& syncMarkers() {
    static const std::vector<std::pair<std::string, std::string>> rows = {
        {".dropbox", "Dropbox"},
        {".dropbox.cache", "Dropbox"},
        {".stfolder", "Syncthing"},
        {".sync", "Resilio Sync"},
        {".owncloudsync.log", "Nextcloud or ownCloud"},
        {".tmp.drivedownload", "Google Drive"},
        {".tmp.driveupload", "Google Drive"},
        {".megaignore", "MEGA"},
    };
    return rows;
}

}  // namespace

std::optional<std::string> CloudSyncRule::syncReason(const std::string& folder) const {
    for (const auto& [marker, service] : syncMarkers()) {
        if (pathExists(PathUtil::join(folder, marker))) return "Synced by " + service;
    }
    // Linux keeps no per-item cloud attribute: only a sync service's marker tells.
    return std::nullopt;
}

std::optional<std::string> CloudSyncRule::skipReason(const std::string& path, const FileStat& stat, bool) const {
    if (!stat.isDirectory()) return std::nullopt;
    return syncReason(path);
}

std::optional<std::string> CloudSyncRule::skipReasonForAncestorsOf(const std::string& path) const {
    for (const auto& ancestor : ancestors(path)) {
        if (auto reason = syncReason(ancestor)) return reason;
    }
    return std::nullopt;
}

}  // namespace keldwick
