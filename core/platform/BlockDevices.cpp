#include "platform/BlockDevices.h"

#include <blkid/blkid.h>

#include <fstream>

#include "platform/Sysfs.h"

namespace keldwick::platform::BlockDevices {

bool isValidName(std::string_view name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string_view::npos &&
           name.find('\0') == std::string_view::npos;
}

std::optional<std::string> deviceFolder(const std::string& name, const SystemRoots& roots) {
    if (!isValidName(name)) return std::nullopt;
    return Sysfs::resolved(roots.sys + "/class/block/" + name);
}

std::optional<std::string> nameForNumber(uint32_t major, uint32_t minor, const SystemRoots& roots) {
    auto folder = Sysfs::resolved(roots.sys + "/dev/block/" + std::to_string(major) + ":" + std::to_string(minor));
    if (!folder) return std::nullopt;
    std::string name = Sysfs::lastComponent(*folder);
    if (!isValidName(name)) return std::nullopt;
    return name;
}

std::optional<std::string> nameForSource(const std::string& source, const SystemRoots& roots) {
    static const std::string prefix = "/dev/";
    if (source.compare(0, prefix.size(), prefix) != 0 || source.size() == prefix.size()) return std::nullopt;
    auto node = Sysfs::resolved(roots.dev + "/" + source.substr(prefix.size()));
    if (!node) return std::nullopt;
    std::string name = Sysfs::lastComponent(*node);
    if (!isValidName(name) || !Sysfs::exists(roots.sys + "/class/block/" + name)) return std::nullopt;
    return name;
}

std::optional<std::string> nameForMount(const MountEntry& entry, const SystemRoots& roots) {
    if (entry.major != 0) {
        if (auto name = nameForNumber(entry.major, entry.minor, roots)) return name;
    }
    return nameForSource(entry.source, roots);
}

std::string decodeUdevEscapes(std::string_view text) {
    auto hex = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    };
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 3 < text.size() && text[i + 1] == 'x' && hex(text[i + 2]) >= 0 &&
            hex(text[i + 3]) >= 0) {
            out.push_back(static_cast<char>(hex(text[i + 2]) * 16 + hex(text[i + 3])));
            i += 3;
        } else {
            out.push_back(text[i]);
        }
    }
    return out;
}

namespace {

std::optional<Identity> fromUdev(const std::string& name, const SystemRoots& roots) {
    auto number = Sysfs::attribute(roots.sys + "/class/block/" + name + "/dev");
    if (!number) return std::nullopt;
    std::ifstream in(roots.udevData + "/b" + *number);
    if (!in) return std::nullopt;
    Identity identity;
    std::optional<std::string> plainLabel, encodedLabel, plainUUID, encodedUUID;
    std::string line;
    while (std::getline(in, line)) {
        if (line.compare(0, 2, "E:") != 0) continue;
        auto equals = line.find('=');
        if (equals == std::string::npos) continue;
        std::string key = line.substr(2, equals - 2);
        std::string value = line.substr(equals + 1);
        if (value.empty()) continue;
        if (key == "ID_FS_TYPE") identity.type = value;
        else if (key == "ID_FS_UUID") plainUUID = value;
        else if (key == "ID_FS_UUID_ENC") encodedUUID = decodeUdevEscapes(value);
        else if (key == "ID_FS_LABEL") plainLabel = value;
        else if (key == "ID_FS_LABEL_ENC") encodedLabel = decodeUdevEscapes(value);
    }
    // Without a type udev has not probed this device (or found nothing): let libblkid look.
    if (!identity.type) return std::nullopt;
    // The plain label has spaces and unsafe bytes replaced; the encoded one is the real name.
    identity.label = encodedLabel ? encodedLabel : plainLabel;
    identity.uuid = encodedUUID ? encodedUUID : plainUUID;
    return identity;
}

Identity fromBlkid(const std::string& name, const SystemRoots& roots) {
    Identity identity;
    blkid_probe probe = blkid_new_probe_from_filename((roots.dev + "/" + name).c_str());
    if (!probe) return identity;
    blkid_probe_enable_superblocks(probe, 1);
    blkid_probe_set_superblocks_flags(probe, BLKID_SUBLKS_LABEL | BLKID_SUBLKS_UUID | BLKID_SUBLKS_TYPE);
    if (blkid_do_safeprobe(probe) == 0) {
        auto value = [&](const char* key) -> std::optional<std::string> {
            const char* data = nullptr;
            size_t length = 0;
            if (blkid_probe_lookup_value(probe, key, &data, &length) != 0 || !data) return std::nullopt;
            std::string text(data, length);
            while (!text.empty() && text.back() == '\0') text.pop_back();  // length counts the terminator
            if (text.empty()) return std::nullopt;
            return text;
        };
        identity.type = value("TYPE");
        identity.uuid = value("UUID");
        identity.label = value("LABEL");
    }
    blkid_free_probe(probe);
    return identity;
}

}  // namespace

Identity identify(const std::string& name, const SystemRoots& roots) {
    if (!isValidName(name)) return {};
    if (auto udev = fromUdev(name, roots)) return *udev;
    return fromBlkid(name, roots);
}

}  // namespace keldwick::platform::BlockDevices
