#include "platform/FileSystemKinds.h"

#include <algorithm>
#include <array>

namespace keldwick::platform {

namespace {

using Kind = FileSystemKind;

// A Linux file system on a disk that keeps every file's modes, links and attributes.
constexpr Kind linuxDisk(std::string_view name, uint32_t magic, NamesMatch names, bool usable) {
    Kind kind{.name = name, .kernelNames = name, .magic = magic};
    kind.disk = true;
    kind.native = usable;
    kind.usable = usable;
    kind.names = names;
    return kind;
}

// A disk format from elsewhere: its drivers make up owners and modes, and may flush less than fsync says.
constexpr Kind foreignDisk(std::string_view name, std::string_view kernelNames, std::string_view fuseNames,
                           uint32_t magic, uint32_t otherMagic = 0) {
    Kind kind{.name = name, .kernelNames = kernelNames, .fuseNames = fuseNames, .magic = magic,
              .otherMagic = otherMagic};
    kind.disk = true;
    kind.fsyncTrusted = false;
    kind.storesMetadata = false;
    return kind;
}

constexpr Kind network(std::string_view mountType, bool hidden = false) {
    const bool fuse = mountType.starts_with("fuse.");
    Kind kind{.name = mountType, .kernelNames = fuse ? "" : mountType, .fuseNames = fuse ? mountType : ""};
    kind.network = true;
    kind.hidden = hidden;
    return kind;
}

// Kernel and pseudo file systems, and the system's own FUSE mounts.
constexpr Kind system(std::string_view mountType, uint32_t magic = 0, NamesMatch names = NamesMatch::unknown) {
    const bool fuse = mountType.starts_with("fuse.");
    Kind kind{.name = mountType, .kernelNames = fuse ? "" : mountType, .fuseNames = fuse ? mountType : "",
              .magic = magic};
    kind.hidden = true;
    kind.names = names;
    return kind;
}

constexpr Kind suggested(Kind kind, std::string_view title) {
    kind.title = title;
    kind.suggested = true;
    return kind;
}

constexpr Kind withExtentsShared(Kind kind) {
    kind.sharesExtents = true;
    return kind;
}

constexpr Kind advising(Kind kind, RefusalAdvice advice) {
    kind.advice = advice;
    return kind;
}

constexpr Kind usableNotNative(Kind kind) {
    kind.usable = true;
    kind.native = false;
    return kind;
}

constexpr Kind fuse(std::string_view mountType, bool disk) {
    Kind kind{.name = mountType, .fuseNames = mountType, .magic = 0x65735546};
    kind.disk = disk;  // fuseblk: mounted from a block device, by root alone
    kind.fsyncTrusted = false;
    kind.storesMetadata = false;
    return kind;
}

constexpr uint32_t kExtMagic = 0xEF53;

constexpr auto kKinds = std::to_array<Kind>({
    linuxDisk("ext2", kExtMagic, NamesMatch::perFolder, true),
    linuxDisk("ext3", kExtMagic, NamesMatch::perFolder, true),
    suggested(linuxDisk("ext4", kExtMagic, NamesMatch::perFolder, true), "ext4"),
    suggested(withExtentsShared(linuxDisk("btrfs", 0x9123683E, NamesMatch::exact, true)), "btrfs"),
    suggested(withExtentsShared(linuxDisk("xfs", 0x58465342, NamesMatch::byFormat, true)), "XFS"),
    linuxDisk("f2fs", 0xF2F52010, NamesMatch::perFolder, true),
    withExtentsShared(linuxDisk("bcachefs", 0xca451a4e, NamesMatch::perFolder, true)),
    linuxDisk("jfs", 0x3153464a, NamesMatch::unknown, false),
    linuxDisk("reiserfs", 0x52654973, NamesMatch::unknown, false),
    linuxDisk("nilfs2", 0x3434, NamesMatch::unknown, false),
    linuxDisk("udf", 0x15013346, NamesMatch::unknown, false),
    advising(foreignDisk("msdos", "vfat msdos fat umsdos", "fuse.fusefat", 0x4d44), RefusalAdvice::fat32),
    suggested(usableNotNative(foreignDisk("exfat", "exfat", "fuse.exfat", 0x2011BAB0)), "exFAT"),
    advising(foreignDisk("ntfs", "ntfs ntfs3", "fuse.ntfs-3g fuse.ntfs ntfs-3g", 0x5346544e, 0x7366746e),
             RefusalAdvice::windows),
    // Refused: Linux writes HFS+ only with its journal turned off, and can't write APFS.
    advising(Kind{.name = "hfs", .kernelNames = "hfsplus", .magic = 0x482b, .disk = true}, RefusalAdvice::hfsPlus),
    Kind{.name = "hfs-standard", .kernelNames = "hfs", .magic = 0x4244, .disk = true},
    advising(Kind{.name = "apfs", .kernelNames = "apfs", .fuseNames = "fuse.apfs fuse.apfs-fuse", .disk = true},
             RefusalAdvice::apfs),
    fuse("fuseblk", true),
    fuse("fuse", false),
    Kind{.name = "tmpfs", .kernelNames = "tmpfs", .magic = 0x01021994, .names = NamesMatch::perFolder},
    system("overlay", 0x794c7630, NamesMatch::perFolder),
    system("squashfs"),
    system("ramfs"),
    system("proc"),
    system("sysfs"),
    system("cgroup"),
    system("cgroup2"),
    system("devtmpfs"),
    system("devpts"),
    system("mqueue"),
    system("debugfs"),
    system("tracefs"),
    system("securityfs"),
    system("bpf"),
    system("pstore"),
    system("hugetlbfs"),
    system("binfmt_misc"),
    system("configfs"),
    system("fusectl"),
    system("autofs"),
    system("efivarfs"),
    system("rpc_pipefs"),
    system("nsfs"),
    system("selinuxfs"),
    system("nfsd"),
    system("fuse.portal"),
    system("fuse.lxcfs"),
    system("fuse.snapfuse"),
    network("nfs"),
    network("nfs4"),
    network("cifs"),
    network("smb3"),
    network("smbfs"),
    network("ncpfs"),
    network("ncp"),
    network("9p"),
    network("ceph"),
    network("glusterfs"),
    network("afs"),
    network("lustre"),
    network("davfs"),
    network("coda"),
    withExtentsShared([] {
        Kind kind = network("ocfs2");
        kind.magic = 0x7461636f;
        return kind;
    }()),
    network("gfs2"),
    network("orangefs"),
    network("fuse.sshfs"),
    network("fuse.rclone"),
    network("fuse.s3fs"),
    network("fuse.gcsfuse"),
    network("fuse.curlftpfs"),
    network("fuse.gvfsd-fuse", true),
    network("fuse.smbnetfs"),
    network("fuse.glusterfs"),
    network("fuse.davfs2"),
    network("fuse.afpfs-ng"),
    network("fuse.goofys"),
    network("fuse.ceph-fuse"),
    network("fuse.juicefs"),
    network("fuse.s3ql"),
    network("fuse.blobfuse2"),
    network("fuse.onedriver"),
});

bool listHas(std::string_view list, std::string_view word) {
    while (!list.empty()) {
        const size_t space = list.find(' ');
        if (list.substr(0, space) == word) return true;
        if (space == std::string_view::npos) break;
        list.remove_prefix(space + 1);
    }
    return false;
}

void addWords(std::vector<std::string>& out, std::string_view list) {
    while (!list.empty()) {
        const size_t space = list.find(' ');
        out.emplace_back(list.substr(0, space));
        if (space == std::string_view::npos) break;
        list.remove_prefix(space + 1);
    }
}

}  // namespace

bool FileSystemKind::hasMountName(std::string_view mountType) const {
    return !mountType.empty() && (listHas(kernelNames, mountType) || listHas(fuseNames, mountType));
}

bool FileSystemKind::hasKernelName(std::string_view mountType) const {
    return !mountType.empty() && listHas(kernelNames, mountType);
}

namespace FileSystemKinds {

std::span<const FileSystemKind> all() { return kKinds; }

const FileSystemKind* named(std::string_view name) {
    auto found = std::ranges::find(kKinds, name, &Kind::name);
    return found == kKinds.end() ? nullptr : &*found;
}

const FileSystemKind* mounted(std::string_view mountType) {
    auto found = std::ranges::find_if(kKinds, [mountType](const Kind& kind) { return kind.hasMountName(mountType); });
    return found == kKinds.end() ? nullptr : &*found;
}

const FileSystemKind* withMagic(uint32_t fType) {
    auto found = std::ranges::find_if(kKinds, [fType](const Kind& kind) { return kind.hasMagic(fType); });
    return found == kKinds.end() ? nullptr : &*found;
}

std::vector<std::string> names(bool FileSystemKind::*column) {
    std::vector<std::string> out;
    for (const Kind& kind : kKinds) {
        if (kind.*column) out.emplace_back(kind.name);
    }
    return out;
}

std::vector<std::string> mountNames(bool FileSystemKind::*column) {
    std::vector<std::string> out;
    for (const Kind& kind : kKinds) {
        if (!(kind.*column)) continue;
        addWords(out, kind.kernelNames);
        addWords(out, kind.fuseNames);
    }
    return out;
}

std::vector<std::string> kernelMountNames(bool FileSystemKind::*column, bool value) {
    std::vector<std::string> out;
    for (const Kind& kind : kKinds) {
        if (kind.*column == value) addWords(out, kind.kernelNames);
    }
    return out;
}

std::vector<uint32_t> magics(bool FileSystemKind::*column, bool value) {
    std::vector<uint32_t> out;
    for (const Kind& kind : kKinds) {
        if (kind.*column != value) continue;
        for (uint32_t magic : {kind.magic, kind.otherMagic}) {
            if (magic != 0 && std::ranges::find(out, magic) == out.end()) out.push_back(magic);
        }
    }
    return out;
}

}  // namespace FileSystemKinds

}  // namespace keldwick::platform
