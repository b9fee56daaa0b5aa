#include "space/SystemDataDiscovery.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <memory>

#include "foundation/FileOps.h"
#include "foundation/PathUtil.h"
#include "foundation/PropertyList.h"
#include "foundation/Simulators.h"
#include "foundation/SystemData.h"
#include "platform/Statx.h"
#include "space/SpaceSizes.h"

namespace keldwick::SystemData {
namespace {

bool startsWith(const std::string& text, const std::string& prefix) { return text.compare(0, prefix.size(), prefix) == 0; }

bool endsWith(const std::string& text, const std::string& suffix) {
    return text.size() >= suffix.size() && text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

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

void addAppFiles(const std::string& home, int64_t minimumSize, std::vector<MovableData>& items) {
    const std::string support = PathUtil::join(home, "Library/Application Support");
    for (const auto& name : listFolder(support)) {
        if (startsWith(name, "com.apple.") || isSystemAppFolder(name) || ownFolders().count(name) > 0) continue;
        const std::string path = PathUtil::join(support, name);
        if (auto measured = measureCandidate(path, minimumSize)) {
            items.push_back(makeItem(path, name, MovableData::Kind::appFiles, *measured, std::nullopt));
        }
    }
}

void addDeviceBackups(const std::string& home, int64_t minimumSize, std::vector<MovableData>& items) {
    const std::string backups = PathUtil::join(PathUtil::join(home, "Library/Application Support"), "MobileSync/Backup");
    for (const auto& entry : listFolder(backups)) {
        const std::string path = PathUtil::join(backups, entry);
        auto measured = measureCandidate(path, minimumSize);
        if (!measured) continue;
        const PropertyList::Node info = PropertyList::readDictionary(PathUtil::join(path, "Info.plist"));
        std::string name = PropertyList::stringValue(info, "Device Name").value_or("iPhone or iPad");
        items.push_back(makeItem(path, std::move(name), MovableData::Kind::deviceBackup, *measured,
                                 PropertyList::dateValue(info, "Last Backup Date")));
    }
}

void addSimulators(const std::string& home, int64_t minimumSize, std::vector<MovableData>& items) {
    const std::string devices = Simulators::devicesFolder(home);
    for (const auto& entry : listFolder(devices)) {
        const std::string path = PathUtil::join(devices, entry);
        if (!Simulators::isDeviceFolder(path)) continue;
        auto device = SimulatorDevice::read(path);
        if (!device) continue;
        auto measured = measureCandidate(path, minimumSize);
        if (!measured) continue;
        MovableData item = makeItem(path, device->name, MovableData::Kind::simulator, *measured, device->lastBooted);
        if (device->runtime) item.system = simulatorSystemName(*device->runtime);
        items.push_back(std::move(item));
    }
}

void addEmulators(const std::string& home, int64_t minimumSize, std::vector<MovableData>& items) {
    const std::string avd = PathUtil::join(home, kEmulatorFolder);
    for (const auto& entry : listFolder(avd)) {
        if (!endsWith(entry, ".avd")) continue;
        const std::string path = PathUtil::join(avd, entry);
        auto measured = measureCandidate(path, minimumSize);
        if (!measured) continue;
        std::string name = entry.substr(0, entry.size() - 4);
        std::replace(name.begin(), name.end(), '_', ' ');
        items.push_back(makeItem(path, std::move(name), MovableData::Kind::emulator, *measured, std::nullopt));
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

std::string simulatorSystemName(const std::string& runtime) {
    const auto dot = runtime.rfind('.');
    const std::string last = dot == std::string::npos ? runtime : runtime.substr(dot + 1);
    std::vector<std::string> parts;
    size_t start = 0;
    while (true) {
        const auto dash = last.find('-', start);
        parts.push_back(last.substr(start, dash == std::string::npos ? std::string::npos : dash - start));
        if (dash == std::string::npos) break;
        start = dash + 1;
    }
    if (parts.size() < 2) return runtime;
    std::string result = parts[0] + " ";
    for (size_t i = 1; i < parts.size(); ++i) {
        if (i > 1) result += ".";
        result += parts[i];
    }
    return result;
}

std::optional<OpenFileUsage> firstUsage(const std::vector<OpenFileUsage>& usages, const std::string& path) {
    for (const auto& usage : usages) {
        if (PathUtil::isInside(usage.path, path)) return usage;
    }
    return std::nullopt;
}

std::vector<MovableData> movable(const std::string& home, const OpenFileChecking& openFiles, int64_t minimumSize) {
    std::vector<MovableData> items;
    addAppFiles(home, minimumSize, items);
    addDeviceBackups(home, minimumSize, items);
    addSimulators(home, minimumSize, items);
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
        if (usage) {
            item.openIn = item.kind == MovableData::Kind::simulator ? std::string("Simulator") : usage->processName;
        }
    }
    std::stable_sort(items.begin(), items.end(),
                     [](const MovableData& a, const MovableData& b) { return a.size > b.size; });
    return items;
}

}  // namespace keldwick::SystemData
