#include "scanning/AppSettings.h"

#include <algorithm>
#include <cmath>

#include "foundation/JsonFields.h"
#include "foundation/Saturating.h"
#include "foundation/XdgUserDirs.h"

namespace keldwick {

namespace {

using nlohmann::json;

// Writing one value by its type.
void write(json& object, const char* key, bool value) { object[key] = value; }
void write(json& object, const char* key, int64_t value) { object[key] = value; }
void write(json& object, const char* key, const std::string& value) { object[key] = value; }
void write(json& object, const char* key, const std::vector<std::string>& value) { object[key] = value; }
void write(json& object, const char* key, const Drive& drive) {
    object[key] = json{{"id", drive.id}, {"name", drive.name}};
}
void write(json& object, const char* key, const DriveProfile& profile) { object[key] = profile.toJson(); }
template <typename T>
void write(json& object, const char* key, const std::optional<T>& value) {
    if (value) write(object, key, *value);
}

// Reading one value by its type; each throws JsonFields::Mismatch before touching `field`
// when the value is not of its kind.
void read(const json& value, bool& field) { field = JsonFields::boolean(value); }
void read(const json& value, int64_t& field) { field = JsonFields::int64(value); }
void read(const json& value, std::string& field) { field = JsonFields::string(value); }
void read(const json& value, std::vector<std::string>& field) {
    if (!value.is_array()) throw JsonFields::Mismatch("not an array");
    std::vector<std::string> list;
    list.reserve(value.size());
    for (const auto& item : value) list.push_back(JsonFields::string(item));
    field = std::move(list);
}
void read(const json& value, Drive& field) {
    using namespace JsonFields;
    Drive drive;
    drive.id = string(required(value, "id"));
    drive.name = string(required(value, "name"));
    field = std::move(drive);
}
void read(const json& value, DriveProfile& field) { field = DriveProfile::fromJson(value); }
template <typename T>
void read(const json& value, std::optional<T>& field) {
    T parsed;
    read(value, parsed);
    field = std::move(parsed);
}

// Reads one key into `field` when it is present and readable; anything else leaves the
// default in place.
template <typename T>
void readKey(const json& object, const char* key, T& field) {
    auto it = object.find(key);
    if (it == object.end() || it->is_null()) return;
    try {
        read(*it, field);
    } catch (const JsonFields::Mismatch&) {
    }
}

template <typename T>
void bringIntoRange(T&, SettingRange::Any, const AppSettings&) {}
void bringIntoRange(int64_t& value, SettingRange::Between range, const AppSettings&) {
    value = std::clamp(value, range.lowest, range.highest);
}
void bringIntoRange(int64_t& value, SettingRange::AboveKeepFree, const AppSettings& settings) {
    value = std::max(value, Saturating::add(settings.thresholdBytes, AppSettings::gigabyte));
}

}  // namespace

const std::vector<int64_t>& AppSettings::freeSpaceChoices() {
    static const std::vector<int64_t> choices{10 * gigabyte, 20 * gigabyte, 50 * gigabyte};
    return choices;
}

int64_t AppSettings::target(int64_t t) { return Saturating::add(t, std::max<int64_t>(t / 2, 5 * gigabyte)); }

std::vector<std::string> AppSettings::defaultFolders(const std::string& home) {
    return {XdgUserDirs::downloads(home), XdgUserDirs::desktop(home), XdgUserDirs::documents(home)};
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
#define KELDWICK_SETTING_RANGE(name, key, type, initial, range, followUp) bringIntoRange(name, range, *this);
    KELDWICK_APP_SETTINGS(KELDWICK_SETTING_RANGE)
#undef KELDWICK_SETTING_RANGE
}

std::vector<SettingFollowUp> AppSettings::followUpsOfChanges(const AppSettings& a, const AppSettings& b) {
    std::vector<SettingFollowUp> followUps;
#define KELDWICK_SETTING_CHANGE(name, key, type, initial, range, followUp) \
    if (a.name != b.name) followUps.push_back(SettingFollowUp::followUp);
    KELDWICK_APP_SETTINGS(KELDWICK_SETTING_CHANGE)
#undef KELDWICK_SETTING_CHANGE
    return followUps;
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
    base.moveProjects = moveProjectsAndEmulators;
    base.minimumEmulatorSize = 100'000'000;
    base.driveIsNativeFormat = true;
    return policyForDrive(driveProfile.value_or(DriveProfile{}), std::move(base));
}

nlohmann::json AppSettings::toJson() const {
    json object = json::object();
#define KELDWICK_SETTING_WRITE(name, key, type, initial, range, followUp) write(object, key, name);
    KELDWICK_APP_SETTINGS(KELDWICK_SETTING_WRITE)
#undef KELDWICK_SETTING_WRITE
    return object;
}

AppSettings AppSettings::fromJson(const nlohmann::json& object) {
    if (!object.is_object()) throw JsonFields::Mismatch("settings are not a JSON object");
    AppSettings settings;
#define KELDWICK_SETTING_READ(name, key, type, initial, range, followUp) readKey(object, key, settings.name);
    KELDWICK_APP_SETTINGS(KELDWICK_SETTING_READ)
#undef KELDWICK_SETTING_READ
    return settings;
}

}  // namespace keldwick
