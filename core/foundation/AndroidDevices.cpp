#include "foundation/AndroidDevices.h"

#include <algorithm>

#include "foundation/AtomicFile.h"
#include "foundation/FileOps.h"
#include "foundation/FileStat.h"
#include "foundation/PathUtil.h"

namespace keldwick {

namespace {

constexpr std::string_view kDevicesSuffix = "/.android/avd";
constexpr std::string_view kFolderExtension = ".avd";
// A real config.ini is a few kilobytes; anything far larger was not written by the emulator.
constexpr size_t kMaxConfigBytes = size_t(1) << 20;

bool endsWith(std::string_view text, std::string_view suffix) {
    return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

std::string_view trimmed(std::string_view text) {
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string_view::npos) return {};
    const auto last = text.find_last_not_of(" \t\r");
    return text.substr(first, last - first + 1);
}

bool isDeviceFolderName(std::string_view name) {
    return name.size() > kFolderExtension.size() && endsWith(name, kFolderExtension);
}

// "…/NAME.avd" -> "…/NAME.ini".
std::string iniBeside(const std::string& folder) {
    return folder.substr(0, folder.size() - kFolderExtension.size()) + ".ini";
}

bool isRegularFile(const std::string& path) {
    const auto status = FileStat::peek(path);
    return status && status->kind == FileStat::Kind::file;
}

}  // namespace

std::optional<AndroidDevice> AndroidDevice::read(const std::string& folder) {
    const std::string folderName = PathUtil::name(folder);
    if (!isDeviceFolderName(folderName)) return std::nullopt;
    const auto status = FileStat::peek(folder);
    if (!status || !status->isDirectory() || !isRegularFile(iniBeside(folder))) return std::nullopt;

    AndroidDevice device;
    device.name = AndroidDevices::nameFromFolder(folderName);
    try {
        if (auto shown = AndroidDevices::displayName(AtomicFile::read(PathUtil::join(folder, "config.ini"), kMaxConfigBytes))) {
            device.name = std::move(*shown);
        }
    } catch (const std::exception&) {
    }

    try {
        const auto names = listDirectory(folder);
        device.isIdle = std::none_of(names.begin(), names.end(),
                                     [](const std::string& name) { return endsWith(name, ".lock"); });
    } catch (const std::exception&) {
        device.isIdle = false;
    }
    for (const char* part : {"snapshots", "userdata-qemu.img"}) {
        if (auto partStatus = FileStat::peek(PathUtil::join(folder, part))) {
            const Date modified = partStatus->modificationDate();
            if (!device.lastBooted || modified > *device.lastBooted) device.lastBooted = modified;
        }
    }
    return device;
}

namespace AndroidDevices {

std::string devicesFolder(const std::string& home) { return home + std::string(kDevicesSuffix); }

bool isDeviceFolder(const std::string& path) {
    return isDeviceFolderName(PathUtil::name(path)) && endsWith(PathUtil::parent(path), kDevicesSuffix);
}

std::string nameFromFolder(std::string_view folderName) {
    std::string name(folderName);
    if (isDeviceFolderName(name)) name.resize(name.size() - kFolderExtension.size());
    std::replace(name.begin(), name.end(), '_', ' ');
    return name;
}

std::optional<std::string> displayName(std::string_view configText) {
    std::optional<std::string> result;
    while (!configText.empty()) {
        const auto end = configText.find('\n');
        const std::string_view line = configText.substr(0, end);
        configText = end == std::string_view::npos ? std::string_view() : configText.substr(end + 1);
        const auto equals = line.find('=');
        if (equals == std::string_view::npos || trimmed(line.substr(0, equals)) != "avd.ini.displayname") continue;
        const std::string_view value = trimmed(line.substr(equals + 1));
        if (value.empty() || value.find('\0') != std::string_view::npos) continue;
        result = std::string(value);
    }
    return result;
}

std::vector<std::string> deviceFolders(const std::string& folder) {
    std::vector<std::string> names;
    try {
        names = listDirectory(folder);
    } catch (const std::exception&) {
        return {};
    }
    std::vector<std::string> result;
    for (const auto& name : names) {
        if (!isDeviceFolderName(name)) continue;
        const std::string path = PathUtil::join(folder, name);
        if (isRegularFile(iniBeside(path))) result.push_back(path);
    }
    return result;
}

}  // namespace AndroidDevices
}  // namespace keldwick
