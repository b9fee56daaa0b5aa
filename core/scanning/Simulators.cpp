#include "scanning/Simulators.h"

#include <fcntl.h>
#include <plist/plist.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <memory>

#include "foundation/FileOps.h"
#include "foundation/PathUtil.h"

namespace keldwick {

namespace {

constexpr std::string_view devicesSuffix = "/Library/Developer/CoreSimulator/Devices";

// A device description is a few kilobytes; anything far larger is not one.
constexpr off_t maxDeviceFileBytes = 16 * 1024 * 1024;

std::optional<std::string> readSmallRegularFile(const std::string& path) {
    // Non-blocking so that a FIFO planted under the name can't hang the caller.
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return std::nullopt;
    std::unique_ptr<int, void (*)(int*)> guard(&fd, [](int* f) { ::close(*f); });
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > maxDeviceFileBytes) {
        return std::nullopt;
    }
    std::string bytes;
    char buffer[65536];
    for (;;) {
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR) continue;
            return std::nullopt;
        }
        if (n == 0) break;
        bytes.append(buffer, static_cast<size_t>(n));
        if (bytes.size() > static_cast<size_t>(maxDeviceFileBytes)) return std::nullopt;
    }
    return bytes;
}

struct PlistFree {
    void operator()(void* node) const { plist_free(static_cast<plist_t>(node)); }
};

bool isTrue(plist_t node) {
    if (node == nullptr || plist_get_node_type(node) != PLIST_BOOLEAN) return false;
    uint8_t value = 0;
    plist_get_bool_val(node, &value);
    return value != 0;
}

}  // namespace

std::optional<SimulatorDevice> SimulatorDevice::read(const std::string& folder) {
    auto bytes = readSmallRegularFile(PathUtil::join(folder, "device.plist"));
    if (!bytes || bytes->empty()) return std::nullopt;
    plist_t rootNode = nullptr;
    plist_from_memory(bytes->data(), static_cast<uint32_t>(bytes->size()), &rootNode);
    std::unique_ptr<void, PlistFree> root(rootNode);
    if (rootNode == nullptr || plist_get_node_type(rootNode) != PLIST_DICT) return std::nullopt;

    plist_t nameNode = plist_dict_get_item(rootNode, "name");
    if (nameNode == nullptr || plist_get_node_type(nameNode) != PLIST_STRING) return std::nullopt;
    SimulatorDevice device;
    char* name = nullptr;
    plist_get_string_val(nameNode, &name);
    if (name == nullptr) return std::nullopt;
    device.name = name;
    free(name);

    bool stateIsOne = false;
    plist_t stateNode = plist_dict_get_item(rootNode, "state");
    if (stateNode != nullptr && plist_get_node_type(stateNode) == PLIST_UINT) {
        uint64_t state = 0;
        plist_get_uint_val(stateNode, &state);
        stateIsOne = state == 1;
    }
    device.isIdle = stateIsOne && !isTrue(plist_dict_get_item(rootNode, "isDeleted")) &&
                    !isTrue(plist_dict_get_item(rootNode, "isEphemeral"));

    plist_t runtimeNode = plist_dict_get_item(rootNode, "runtime");
    if (runtimeNode != nullptr && plist_get_node_type(runtimeNode) == PLIST_STRING) {
        char* runtime = nullptr;
        plist_get_string_val(runtimeNode, &runtime);
        if (runtime != nullptr) {
            device.runtime = std::string(runtime);
            free(runtime);
        }
    }

    plist_t bootedNode = plist_dict_get_item(rootNode, "lastBootedAt");
    if (bootedNode != nullptr && plist_get_node_type(bootedNode) == PLIST_DATE) {
        int32_t seconds = 0;
        int32_t microseconds = 0;
        plist_get_date_val(bootedNode, &seconds, &microseconds);
        device.lastBooted = Date::fromSecondsSince2001(seconds + microseconds / 1e6);
    }
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
