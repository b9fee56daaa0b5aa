#include "platform/MountFacts.h"

#include <charconv>
#include <set>
#include <string_view>

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
    if (type == "vfat" || type == "msdos" || type == "fat" || type == "fuse.fusefat" || type == "umsdos") {
        return "msdos";
    }
    if (type == "exfat" || type == "fuse.exfat") return "exfat";
    if (type == "ntfs" || type == "ntfs3" || type == "fuse.ntfs-3g" || type == "fuse.ntfs" || type == "ntfs-3g") {
        return "ntfs";
    }
    if (type == "hfsplus") return "hfs";
    if (type == "hfs") return "hfs-standard";
    if (type == "apfs" || type == "fuse.apfs" || type == "fuse.apfs-fuse") return "apfs";
    return type;
}

}  // namespace

bool needsProbe(const std::string& mountType) { return mountType == "fuseblk" || mountType == "fuse"; }

std::string fileSystemName(const std::string& mountType, const std::optional<std::string>& probedType) {
    if (needsProbe(mountType) && probedType && !probedType->empty()) return normalized(*probedType);
    return normalized(mountType);
}

bool isNetwork(const std::string& mountType) {
    static const std::set<std::string, std::less<>> network = {
        "nfs", "nfs4", "cifs", "smb3", "smbfs", "ncpfs", "ncp", "9p", "ceph", "glusterfs", "afs", "lustre",
        "davfs", "coda", "ocfs2", "gfs2", "orangefs", "fuse.sshfs", "fuse.rclone", "fuse.s3fs", "fuse.gcsfuse",
        "fuse.curlftpfs", "fuse.gvfsd-fuse", "fuse.smbnetfs", "fuse.glusterfs", "fuse.davfs2", "fuse.afpfs-ng",
        "fuse.goofys", "fuse.ceph-fuse", "fuse.juicefs", "fuse.s3ql", "fuse.blobfuse2", "fuse.onedriver"};
    return network.count(mountType) > 0;
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
    static const std::set<std::string, std::less<>> pseudo = {
        "proc", "sysfs", "cgroup", "cgroup2", "devtmpfs", "devpts", "mqueue", "debugfs", "tracefs", "securityfs",
        "bpf", "pstore", "hugetlbfs", "binfmt_misc", "configfs", "fusectl", "autofs", "efivarfs", "rpc_pipefs",
        "nsfs", "overlay", "squashfs", "ramfs", "selinuxfs", "nfsd", "fuse.portal", "fuse.gvfsd-fuse",
        "fuse.lxcfs", "fuse.snapfuse"};
    if (pseudo.count(entry.fsType)) return true;
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
    static const std::set<std::string, std::less<>> kernelMount = {"vfat", "msdos", "fat", "umsdos", "exfat", "ntfs",
                                                                    "ntfs3"};
    MountModes modes;
    if (entry.fsType == "fuse" || entry.fsType == "fuseblk" || startsWith(entry.fsType, "fuse.")) {
        modes.source = MountModes::Source::fuse;
        modes.allowOther = entry.hasOption("allow_other");
        modes.defaultPermissions = entry.hasOption("default_permissions");
        return modes;
    }
    if (!kernelMount.count(entry.fsType)) return modes;
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
