#include "space/SystemDataDiscovery.h"

#include <algorithm>
#include <memory>

#include "foundation/FileOps.h"
#include "foundation/ItemName.h"
#include "foundation/PathUtil.h"
#include "foundation/AndroidDevices.h"
#include "foundation/DesktopEntries.h"
#include "foundation/SystemData.h"
#include "foundation/UserFolders.h"
#include "platform/ProcessFacts.h"
#include "platform/Statx.h"
#include "space/SpaceSizes.h"

namespace keldwick::SystemData {
namespace {

bool isFolder(const std::string& path) {
    struct statx record {};
    return platform::statxNoFollow(AT_FDCWD, path.c_str(), record) == 0 && S_ISDIR(record.stx_mode);
}

// Measures a candidate folder; nothing when it is not a folder or is too small.
struct Measured {
    int64_t size = 0;
    std::optional<Date> lastModified;
};

std::optional<Measured> measureCandidate(const std::string& path, int64_t minimumSize) {
    if (!isFolder(path)) return std::nullopt;
    Measured measured;
    measured.size = measureFolder(path, measured.lastModified);
    if (measured.size < minimumSize) return std::nullopt;
    return measured;
}

MovableData makeItem(const std::string& path, std::string name, MovableData::Kind kind, const Measured& measured,
                     std::optional<Date> lastUsed) {
    MovableData item;
    item.path = path;
    item.name = std::move(name);
    item.kind = kind;
    item.size = measured.size;
    item.lastUsed = lastUsed ? lastUsed : measured.lastModified;
    return item;
}

void addAppFiles(const Places& places, int64_t minimumSize, std::vector<MovableData>& items) {
    if (places.dataHome.empty()) return;
    std::optional<std::vector<DesktopEntry>> entries;  // read once, and only when a folder qualifies
    for (const auto& name : listFolder(places.dataHome)) {
        if (!isAppFolder(name)) continue;
        const std::string path = PathUtil::join(places.dataHome, name);
        auto measured = measureCandidate(path, minimumSize);
        if (!measured) continue;
        if (!entries) entries = DesktopEntries::read(places.applicationFolders);
        std::string shown = DesktopEntries::appNameFor(*entries, name).value_or(name);
        items.push_back(makeItem(path, std::move(shown), MovableData::Kind::appFiles, *measured, std::nullopt));
    }
}

// Each device once, in name order; a folder without its NAME.ini beside it is not a device.
void addEmulators(const std::string& home, int64_t minimumSize, std::vector<MovableData>& items) {
    const std::string devices = AndroidDevices::devicesFolder(home);
    if (!isFolder(devices)) return;
    auto folders = AndroidDevices::deviceFolders(devices);
    std::sort(folders.begin(), folders.end());
    for (const auto& path : folders) {
        auto device = AndroidDevice::read(path);
        if (!device) continue;
        auto measured = measureCandidate(path, minimumSize);
        if (!measured) continue;
        ItemName::remember(path, device->name);
        items.push_back(makeItem(path, device->name, MovableData::Kind::emulator, *measured, device->lastBooted));
    }
}

void addModels(const std::string& home, int64_t minimumSize, std::vector<MovableData>& items) {
    for (const auto& folder : hiddenModelFolders()) {
        const std::string path = PathUtil::join(home, folder.relativePath);
        if (auto measured = measureCandidate(path, minimumSize)) {
            items.push_back(makeItem(path, folder.name, MovableData::Kind::models, *measured, std::nullopt));
        }
    }
}

}  // namespace

std::vector<std::string> listFolder(const std::string& folder) {
    if (!isFolder(folder)) return {};
    try {
        return listDirectory(folder);
    } catch (...) {
        return {};
    }
}

int64_t measureFolder(const std::string& folder, std::optional<Date>& lastModified) {
    std::vector<std::string> relatives;
    collectRelativePaths("", folder, relatives);
    int64_t total = 0;
    for (const auto& relative : relatives) {
        struct statx record {};
        if (platform::statxNoFollow(AT_FDCWD, PathUtil::join(folder, relative).c_str(), record) != 0) continue;
        if (!S_ISREG(record.stx_mode)) continue;
        total = SpaceSizes::add(total, SpaceSizes::allocated(record));
        const Date modified = Date::fromTimespec(Timespec{record.stx_mtime.tv_sec, record.stx_mtime.tv_nsec});
        if (!lastModified || modified >= *lastModified) lastModified = modified;
    }
    return total;
}

std::optional<OpenFileUsage> firstUsage(const std::vector<OpenFileUsage>& usages, const std::string& path) {
    for (const auto& usage : usages) {
        if (PathUtil::isInside(usage.path, path)) return usage;
    }
    return std::nullopt;
}

Places Places::of(const std::string& home) {
    Places places;
    places.home = home;
    places.dataHome = UserFolders::dataHome(home);
    const std::string dataDirs = platform::environmentVariable("XDG_DATA_DIRS").value_or("");
    places.applicationFolders = DesktopEntries::applicationFolders(places.dataHome, dataDirs);
    return places;
}

std::vector<MovableData> movable(const Places& places, const OpenFileChecking& openFiles, int64_t minimumSize) {
    const std::string& home = places.home;
    std::vector<MovableData> items;
    addAppFiles(places, minimumSize, items);
    addEmulators(home, minimumSize, items);
    addModels(home, minimumSize, items);

    // The kernel reports open files by their real paths: match against the resolved
    // form of each item, so a link on the way (home or a folder above an item) can't
    // hide a file in use.
    // An item that really lies outside the home folder is asked about on its own.
    const std::string realHome = PathUtil::canonical(home).value_or(home);
    const auto usages = openFiles.usage(realHome);
    for (auto& item : items) {
        const std::string real = PathUtil::canonical(item.path).value_or(item.path);
        auto usage = PathUtil::isInside(real, realHome) ? firstUsage(usages, real) : firstUsage(openFiles.usage(real), real);
        if (usage) item.openIn = usage->processName;
    }
    std::stable_sort(items.begin(), items.end(),
                     [](const MovableData& a, const MovableData& b) { return a.size > b.size; });
    return items;
}

}  // namespace keldwick::SystemData
