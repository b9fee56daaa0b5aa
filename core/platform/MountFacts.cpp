#include "platform/MountFacts.h"

#include <charconv>
#include <string_view>

#include "platform/FileSystemKinds.h"
#include "platform/ProcFS.h"

namespace keldwick::platform::MountFacts {

namespace {

bool startsWith(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && text.compare(0, prefix.size(), prefix) == 0;
}

// Equal to the folder, or inside it.
bool isInside(std::string_view path, std::string_view folder) {
    return path == folder || (startsWith(path, folder) && path.size() > folder.size() && path[folder.size()] == '/');
}

std::string normalized(const std::string& type) {
    const FileSystemKind* kind = FileSystemKinds::mounted(type);
    return kind ? std::string(kind->name) : type;
}

}  // namespace

bool needsProbe(const std::string& mountType) { return mountType == "fuseblk" || mountType == "fuse"; }

std::string fileSystemName(const std::string& mountType, const std::optional<std::string>& probedType) {
    if (needsProbe(mountType) && probedType && !probedType->empty()) return normalized(*probedType);
    return normalized(mountType);
}

std::optional<std::string> fuseDaemonType(const MountEntry& entry, const SystemRoots& roots) {
    if (!needsProbe(entry.fsType) || entry.source.empty() || entry.source.front() != '/') return std::nullopt;
    // The daemons that serve a block device through FUSE, by the names they are started as.
    static const std::pair<std::string_view, std::string_view> daemons[] = {
        {"mount.exfat-fuse", "exfat"}, {"exfat-fuse", "exfat"},         {"mount.exfat", "exfat"},
        {"ntfs-3g", "ntfs"},           {"mount.ntfs-3g", "ntfs"},       {"lowntfs-3g", "ntfs"},
        {"mount.lowntfs-3g", "ntfs"},  {"mount.ntfs", "ntfs"},
    };
    const ProcFS procfs(roots.proc);
    for (int32_t pid : procfs.processIDs()) {
        const std::vector<std::string> arguments = procfs.commandLine(pid);
        if (arguments.size() < 2) continue;
        const std::string_view program = std::string_view(arguments[0]).substr(arguments[0].rfind('/') + 1);
        std::optional<std::string_view> type;
        for (const auto& [name, served] : daemons) {
            if (program == name) type = served;
        }
        if (!type) continue;
        for (size_t i = 1; i < arguments.size(); ++i) {
            if (arguments[i] == entry.source) return std::string(*type);
        }
    }
    return std::nullopt;
}

bool isNetwork(const std::string& mountType) {
    const FileSystemKind* kind = FileSystemKinds::mounted(mountType);
    return kind && kind->network;
}

bool isRootFileSystem(const MountEntry& entry, const std::vector<MountEntry>& table) {
    if (entry.mountPoint == "/") return true;
    const MountEntry* root = MountTable::rootEntry(table);
    if (!root) return false;
    // Same device number = same super block: the startup volume seen through another mount.
    // (Network and FUSE file systems get a device number of their own per mount.)
    return root->major == entry.major && root->minor == entry.minor;
}

bool isHidden(const MountEntry& entry) {
    const FileSystemKind* kind = FileSystemKinds::mounted(entry.fsType);
    if (kind && kind->hidden) return true;
    // A folder of a file system mounted elsewhere (bind mounts of subfolders, btrfs subvolumes).
    if (entry.root != "/") return true;

    const std::string& point = entry.mountPoint;
    if (point == "/") return false;  // the startup volume is listed (and then refused)
    static const char* systemFolders[] = {"/proc", "/sys", "/dev", "/boot", "/efi", "/snap", "/var/snap",
                                          "/var/lib/snapd", "/var/lib/docker", "/var/lib/containers",
                                          "/var/lib/lxcfs", "/var/lib/kubelet"};
    for (const char* folder : systemFolders) {
        if (isInside(point, folder)) return true;
    }
    // /run holds the system's runtime mounts; removable drives mount under /run/media.
    if (isInside(point, "/run") && !isInside(point, "/run/media")) return true;
    return false;
}

MountModes modesOf(const MountEntry& entry) {
    MountModes modes;
    if (entry.fsType == "fuse" || entry.fsType == "fuseblk" || startsWith(entry.fsType, "fuse.")) {
        modes.source = MountModes::Source::fuse;
        modes.allowOther = entry.hasOption("allow_other");
        modes.defaultPermissions = entry.hasOption("default_permissions");
        return modes;
    }
    // Kernel drivers of formats without owners and modes make them up from the mount's options.
    const FileSystemKind* kind = FileSystemKinds::mounted(entry.fsType);
    if (!kind || kind->storesMetadata || !kind->hasKernelName(entry.fsType)) return modes;
    modes.source = MountModes::Source::kernelMount;
    auto mask = [&entry](std::string_view name) -> std::optional<mode_t> {
        auto text = entry.superOptionValue(name);
        if (!text || text->empty()) return std::nullopt;
        unsigned value = 0;
        auto result = std::from_chars(text->data(), text->data() + text->size(), value, 8);
        if (result.ec != std::errc() || result.ptr != text->data() + text->size() || value > 0777) return std::nullopt;
        return static_cast<mode_t>(value);
    };
    const auto both = mask("umask");
    modes.fileMask = mask("fmask");
    if (!modes.fileMask) modes.fileMask = both;
    modes.folderMask = mask("dmask");
    if (!modes.folderMask) modes.folderMask = both;
    return modes;
}

std::vector<MountEntry> visibleEntries(const std::vector<MountEntry>& table) {
    std::vector<MountEntry> visible;
    for (size_t i = 0; i < table.size(); ++i) {
        bool covered = false;
        for (size_t j = i + 1; j < table.size() && !covered; ++j) {
            covered = table[j].mountPoint == table[i].mountPoint;
        }
        if (!covered) visible.push_back(table[i]);
    }
    return visible;
}

}  // namespace keldwick::platform::MountFacts
