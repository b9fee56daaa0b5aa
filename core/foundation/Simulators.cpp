#include "foundation/Simulators.h"

#include <plist/plist.h>


#include "foundation/FileOps.h"
#include "foundation/PathUtil.h"
#include "foundation/PropertyList.h"

namespace keldwick {

namespace {

constexpr std::string_view devicesSuffix = "/Library/Developer/CoreSimulator/Devices";

bool isTrue(plist_t node) {
    if (node == nullptr || plist_get_node_type(node) != PLIST_BOOLEAN) return false;
    uint8_t value = 0;
    plist_get_bool_val(node, &value);
    return value != 0;
}

}  // namespace

std::optional<SimulatorDevice> SimulatorDevice::read(const std::string& folder) {
    const PropertyList::Node root = PropertyList::readDictionary(PathUtil::join(folder, "device.plist"));
    auto name = PropertyList::stringValue(root, "name");
    if (!name) return std::nullopt;
    const auto rootNode = static_cast<plist_t>(root.get());
    SimulatorDevice device;
    device.name = std::move(*name);

    bool stateIsOne = false;
    plist_t stateNode = plist_dict_get_item(rootNode, "state");
    if (stateNode != nullptr && plist_get_node_type(stateNode) == PLIST_UINT) {
        uint64_t state = 0;
        plist_get_uint_val(stateNode, &state);
        stateIsOne = state == 1;
    }
    device.isIdle = stateIsOne && !isTrue(plist_dict_get_item(rootNode, "isDeleted")) &&
                    !isTrue(plist_dict_get_item(rootNode, "isEphemeral"));

    device.runtime = PropertyList::stringValue(root, "runtime");
    if (auto booted = PropertyList::dateValue(root, "lastBootedAt")) device.lastBooted = booted;
    return device;
}

namespace Simulators {

std::string devicesFolder(const std::string& home) { return home + std::string(devicesSuffix); }

bool isUUID(std::string_view text) {
    if (text.size() != 36) return false;
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (i == 8 || i == 13 || i == 18 || i == 23) {
            if (c != '-') return false;
        } else if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'))) {
            return false;
        }
    }
    return true;
}

bool isDeviceFolder(const std::string& path) {
    if (!isUUID(PathUtil::name(path))) return false;
    std::string parent = PathUtil::parent(path);
    return parent.size() >= devicesSuffix.size() &&
           std::string_view(parent).substr(parent.size() - devicesSuffix.size()) == devicesSuffix;
}

std::vector<std::string> deviceFolders(const std::string& folder) {
    std::vector<std::string> result;
    std::vector<std::string> names;
    try {
        names = listDirectory(folder);
    } catch (const std::exception&) {
        return result;
    }
    for (const auto& name : names) {
        if (isUUID(name)) result.push_back(PathUtil::join(folder, name));
    }
    return result;
}

}  // namespace Simulators
}  // namespace keldwick
