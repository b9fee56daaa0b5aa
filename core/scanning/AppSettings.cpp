#include "scanning/AppSettings.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "foundation/JsonFields.h"
#include "foundation/Saturating.h"

namespace keldwick {

namespace {

nlohmann::json driveToJson(const Drive& d) { return nlohmann::json{{"id", d.id}, {"name", d.name}}; }

Drive driveFromJson(const nlohmann::json& object) {
    using namespace JsonFields;
    Drive d;
    d.id = string(required(object, "id"));
    d.name = string(required(object, "name"));
    return d;
}

std::vector<std::string> stringList(const nlohmann::json& value) {
    if (!value.is_array()) throw JsonFields::Mismatch("not an array");
    std::vector<std::string> list;
    list.reserve(value.size());
    for (const auto& item : value) list.push_back(JsonFields::string(item));
    return list;
}

// Reads one key into `field` when it is present and readable; anything else leaves the
// default in place.
template <typename T, typename Read>
void readKey(const nlohmann::json& object, const char* key, T& field, Read read) {
    auto it = object.find(key);
    if (it == object.end() || it->is_null()) return;
    try {
        field = read(*it);
    } catch (const JsonFields::Mismatch&) {
    }
}

}  // namespace

const std::vector<int64_t>& AppSettings::freeSpaceChoices() {
    static const std::vector<int64_t> choices{10 * gigabyte, 20 * gigabyte, 50 * gigabyte};
    return choices;
}

int64_t AppSettings::target(int64_t t) { return Saturating::add(t, std::max<int64_t>(t / 2, 5 * gigabyte)); }

std::vector<std::string> AppSettings::defaultFolders(const std::string& home) {
    std::vector<std::string> folders;
    for (const char* name : {"Downloads", "Desktop", "Documents"}) {
        if (!home.empty() && home.back() == '/') folders.push_back(home + name);
        else folders.push_back(home + "/" + name);
    }
    return folders;
}

int64_t AppSettings::bytesToFree(int64_t freeBytes) const {
    return std::max<int64_t>(Saturating::subtract(targetBytes, freeBytes), 0);
}

double AppSettings::keepFreeMark(int64_t totalBytes) const {
    if (totalBytes < 1) return 0;
    const double mark = 1 - static_cast<double>(thresholdBytes) / static_cast<double>(totalBytes);
    return std::isnan(mark) ? 0 : std::clamp(mark, 0.0, 1.0);
}

void AppSettings::normalize() {
    thresholdBytes = std::max<int64_t>(thresholdBytes, gigabyte);
    targetBytes = std::max(targetBytes, Saturating::add(thresholdBytes, gigabyte));
    minimumAgeDays = std::max<int64_t>(minimumAgeDays, 1);
    minimumItemMegabytes = std::max<int64_t>(minimumItemMegabytes, 1);
    checkIntervalMinutes = std::clamp<int64_t>(checkIntervalMinutes, 1, 1440);
}

OffloadPolicy AppSettings::policy(bool includingRecent) const {
    OffloadPolicy base;
    base.minimumAge = static_cast<double>(minimumAgeDays) * 86'400.0;
    base.minimumItemSize = Saturating::multiply(minimumItemMegabytes, 1'000'000);
    base.allowFolders = true;
    base.folderInactivity = 7'776'000;
    base.maxFolderFileCount = 20'000;
    base.allowedTypes = std::nullopt;
    base.allowedExtensions = {};
    base.deniedTypes = {};
    if (includingRecent && moveRecentLightFiles) base.recentLightFiles = RecentLightFiles{};
    else base.recentLightFiles = std::nullopt;
    base.moveProjects = moveProjectsAndSimulators;
    base.minimumSimulatorSize = 100'000'000;
    base.driveIsMacFormatted = true;
    return policyForDrive(driveProfile.value_or(DriveProfile{}), std::move(base));
}

nlohmann::json AppSettings::toJson() const {
    nlohmann::json j = nlohmann::json::object();
    j["onboardingComplete"] = onboardingComplete;
    if (drive) j["drive"] = driveToJson(*drive);
    if (driveVolumeUUID) j["driveVolumeUUID"] = *driveVolumeUUID;
    if (driveProfile) j["driveProfile"] = driveProfile->toJson();
    j["managedFolders"] = managedFolders;
    j["thresholdBytes"] = thresholdBytes;
    j["targetBytes"] = targetBytes;
    j["minimumAgeDays"] = minimumAgeDays;
    j["minimumItemMegabytes"] = minimumItemMegabytes;
    j["moveRecentLightFiles"] = moveRecentLightFiles;
    j["moveProjectsAndSimulators"] = moveProjectsAndSimulators;
    j["clearCachesWhenLow"] = clearCachesWhenLow;
    j["isPaused"] = isPaused;
    j["dryRunMode"] = dryRunMode;
    j["automaticRunsApproved"] = automaticRunsApproved;
    j["checkIntervalMinutes"] = checkIntervalMinutes;
    j["notificationsEnabled"] = notificationsEnabled;
    return j;
}

AppSettings AppSettings::fromJson(const nlohmann::json& object) {
    using namespace JsonFields;
    if (!object.is_object()) throw Mismatch("settings are not a JSON object");
    AppSettings s;
    readKey(object, "onboardingComplete", s.onboardingComplete, boolean);
    readKey(object, "drive", s.drive, [](const nlohmann::json& v) { return std::optional(driveFromJson(v)); });
    readKey(object, "driveVolumeUUID", s.driveVolumeUUID,
            [](const nlohmann::json& v) { return std::optional(string(v)); });
    readKey(object, "driveProfile", s.driveProfile,
            [](const nlohmann::json& v) { return std::optional(DriveProfile::fromJson(v)); });
    readKey(object, "managedFolders", s.managedFolders, stringList);
    readKey(object, "thresholdBytes", s.thresholdBytes, int64);
    readKey(object, "targetBytes", s.targetBytes, int64);
    readKey(object, "minimumAgeDays", s.minimumAgeDays, int64);
    readKey(object, "minimumItemMegabytes", s.minimumItemMegabytes, int64);
    readKey(object, "moveRecentLightFiles", s.moveRecentLightFiles, boolean);
    readKey(object, "moveProjectsAndSimulators", s.moveProjectsAndSimulators, boolean);
    readKey(object, "clearCachesWhenLow", s.clearCachesWhenLow, boolean);
    readKey(object, "isPaused", s.isPaused, boolean);
    readKey(object, "dryRunMode", s.dryRunMode, boolean);
    readKey(object, "automaticRunsApproved", s.automaticRunsApproved, boolean);
    readKey(object, "checkIntervalMinutes", s.checkIntervalMinutes, int64);
    readKey(object, "notificationsEnabled", s.notificationsEnabled, boolean);
    return s;
}

}  // namespace keldwick
