#include "drives/DriveTrust.h"

#include <cerrno>
#include <cstring>

#include "drives/DriveLayout.h"
#include "drives/DriveMarker.h"
#include "foundation/AtomicFile.h"
#include "foundation/FileOps.h"
#include "foundation/MachineIdentity.h"
#include "foundation/PathUtil.h"
#include "platform/BlockDevices.h"
#include "platform/FileIO.h"
#include "platform/FileStatus.h"
#include "platform/FileSystemKinds.h"
#include "platform/MountFacts.h"
#include "platform/MountTable.h"
#include "platform/Statx.h"
#include "platform/Users.h"

namespace keldwick::DriveTrust {

namespace {

constexpr size_t kMaxMarkerBytes = 1u << 20;
constexpr mode_t kFolderMode = 0711;

using platform::MountModes;

// Disk file systems, by their mount types. FUSE counts only as "fuseblk", which the kernel
// mounts from a block device for root alone: any user may mount "fuse.*".
bool isDiskFileSystem(const std::string& mountType) {
    if (mountType != "fuseblk" && mountType.rfind("fuse", 0) == 0) return false;
    const platform::FileSystemKind* kind = platform::FileSystemKinds::mounted(mountType);
    return kind && kind->disk;
}

bool keepsModes(const MountModes& modes) { return modes.source == MountModes::Source::files; }

// The permission bits users other than the owner really meet: for a kernel mount the
// masks it was mounted with count as well as what the volume shows.
mode_t seenMode(const struct stat& st, const MountModes& modes) {
    mode_t mode = st.st_mode & 07777;
    if (modes.source == MountModes::Source::kernelMount) {
        const auto& mask = S_ISDIR(st.st_mode) ? modes.folderMask : modes.fileMask;
        if (mask) mode |= 0777 & ~*mask;
    }
    return mode;
}

// The write bits that let somebody else in: others', and the group's unless it is the
// user's private group.
mode_t othersWrite(const struct stat& st, const MountModes& modes, const User& user) {
    const bool privateGroup = user.privateGroup && st.st_gid == *user.privateGroup;
    return seenMode(st, modes) & (S_IWOTH | (privateGroup ? 0 : S_IWGRP));
}

bool ownedByUserOrRoot(const struct stat& st, const User& user) { return st.st_uid == user.uid || st.st_uid == 0; }

// The Keldwick folder or marker as seen in `st`. `narrowable`: a loose item of the user's
// counts as trusted, since it will be narrowed when the drive is found.
std::optional<DriveRefusal> judgeItem(const struct stat& st, const std::string& root, const std::string& what,
                                      const User& user, const MountModes& modes, bool narrowable) {
    if (!ownedByUserOrRoot(st, user)) return DriveRefusal{root, DriveRefusal::Kind::anotherOwner, what};
    if (!modes.othersCanReach() || othersWrite(st, modes, user) == 0) return std::nullopt;
    if (!keepsModes(modes)) return DriveRefusal{root, DriveRefusal::Kind::modesFromMount, what};
    if (narrowable && st.st_uid == user.uid) return std::nullopt;
    return DriveRefusal{root, DriveRefusal::Kind::othersCanChange, what};
}

// The folder that holds the Keldwick folder: whoever may write to it may rename the
// folder aside and put another in its place (the sticky bit leaves that to the folder's
// owner and the folder above's), and its owner may always.
std::optional<DriveRefusal> judgeAbove(const struct stat& st, const std::string& root, const std::string& folderName,
                                       const User& user, const MountModes& modes) {
    if (!ownedByUserOrRoot(st, user)) return DriveRefusal{root, DriveRefusal::Kind::anotherOwner, "top folder"};
    if (!modes.othersCanReach() || (st.st_mode & S_ISVTX) || othersWrite(st, modes, user) == 0) return std::nullopt;
    if (!keepsModes(modes)) return DriveRefusal{root, DriveRefusal::Kind::modesFromMount, folderName};
    return DriveRefusal{root, DriveRefusal::Kind::othersCanReplace, folderName};
}

std::optional<DriveRefusal> judgeMountItself(const std::string& root, const MountModes& modes) {
    if (modes.checksNothing()) return DriveRefusal{root, DriveRefusal::Kind::noPermissionChecks, "FUSE"};
    return std::nullopt;
}

platform::Fd openMarker(int folderFd) {
    for (const auto& name : DriveMarker::fileNames()) {
        platform::Fd marker = platform::openReadAt(folderFd, name.c_str(), O_NOFOLLOW | O_NONBLOCK);
        if (marker || errno != ENOENT) return marker;
    }
    return {};
}

std::string folderWhat(const std::string& folderName) { return folderName + " folder"; }

// The whole judgement of an open app folder; `narrowable` as for judgeItem.
std::optional<DriveRefusal> judgeFolder(const std::string& root, int folderFd, const std::string& folderName,
                                        const User& user, const MountModes& modes, bool narrowable) {
    if (auto refusal = judgeMountItself(root, modes)) return refusal;
    struct stat st {};
    if (platform::statusOf(folderFd, st) != 0 || !S_ISDIR(st.st_mode)) {
        return DriveRefusal{root, DriveRefusal::Kind::anotherOwner, folderWhat(folderName)};
    }
    if (auto refusal = judgeItem(st, root, folderWhat(folderName), user, modes, narrowable)) return refusal;
    if (const platform::Fd marker = openMarker(folderFd)) {
        struct stat markerSt {};
        if (platform::statusOf(marker.get(), markerSt) != 0) return DriveRefusal{root, DriveRefusal::Kind::anotherOwner, "drive marker"};
        if (auto refusal = judgeItem(markerSt, root, "drive marker", user, modes, narrowable)) return refusal;
    }
    if (!user.computerFolder.empty()) {
        // This computer's folder, when there is one: its copies live under it.
        const platform::Fd computer = platform::openDirectory(folderFd, user.computerFolder, O_NOFOLLOW);
        struct stat computerSt {};
        if (computer && platform::statusOf(computer.get(), computerSt) == 0) {
            if (auto refusal = judgeInnerFolder(computerSt, root, PathUtil::join(folderName, user.computerFolder), user,
                                                modes, narrowable))
                return refusal;
        } else if (!computer && errno != ENOENT) {
            // A link or a file in its place: nothing of this computer's can go there.
            return DriveRefusal{root, DriveRefusal::Kind::innerFolderForeign, PathUtil::join(folderName, user.computerFolder)};
        }
    }
    const platform::Fd above = platform::openDirectory(folderFd, "..", O_NOFOLLOW);
    struct stat aboveSt {};
    if (!above || platform::statusOf(above.get(), aboveSt) != 0) {
        return DriveRefusal{root, DriveRefusal::Kind::othersCanReplace, folderWhat(folderName)};
    }
    return judgeAbove(aboveSt, root, folderWhat(folderName), user, modes);
}

// A volume without an app folder, judged as a folder made on it would be: where the
// mount gives the modes, a new folder gets those of the volume's top folder.
std::optional<DriveRefusal> judgeWithoutFolder(const std::string& root, const User& user, const MountModes& modes) {
    if (auto refusal = judgeMountItself(root, modes)) return refusal;
    const platform::Fd top = platform::openDirectory(AT_FDCWD, root);
    struct stat st {};
    if (!top || platform::statusOf(top.get(), st) != 0) return std::nullopt;
    const std::string what = folderWhat(DriveLayout::folderName());
    if (!keepsModes(modes)) {
        if (auto refusal = judgeItem(st, root, what, user, modes, false)) return refusal;
    }
    return judgeAbove(st, root, what, user, modes);
}

bool isReadOnly(int fd) {
    struct statvfs volume {};
    return platform::volumeStatusOf(fd, volume) == 0 && (volume.f_flag & ST_RDONLY);
}

// Narrows the user's own folder to kFolderMode and takes from the marker what others
// could use to change it, through the call table. Failures leave the judgement after
// to decide.
void narrow(int folderFd, const User& user) {
    struct stat st {};
    if (platform::statusOf(folderFd, st) != 0 || st.st_uid != user.uid) return;
    if ((st.st_mode & 07777) != kFolderMode) platform::calls().fchmod(folderFd, kFolderMode);
    const platform::Fd marker = openMarker(folderFd);
    struct stat markerSt {};
    if (!marker || platform::statusOf(marker.get(), markerSt) != 0 || markerSt.st_uid != user.uid ||
        !S_ISREG(markerSt.st_mode)) {
        return;
    }
    const mode_t loose = markerSt.st_mode & (S_IWGRP | S_IWOTH);
    if (loose != 0) platform::calls().fchmod(marker.get(), markerSt.st_mode & 07777 & ~loose);
    if (user.computerFolder.empty()) return;
    const platform::Fd computer = platform::openDirectory(folderFd, user.computerFolder, O_NOFOLLOW);
    if (computer) narrowInnerFolder(computer.get(), user, MountModes{});
}

}  // namespace

User User::current() {
    User user;
    user.uid = platform::effectiveUserID();
    std::string name;
    gid_t primary = platform::effectiveGroupID();
    if (const auto account = platform::accountOf(user.uid)) {
        name = account->name;
        primary = account->primaryGroup;
    }
    if (const auto group = platform::groupName(primary); group && !name.empty() && name == *group) {
        user.privateGroup = primary;
    }
    user.computerFolder = MachineIdentity::folderName();
    return user;
}

std::optional<DriveRefusal> judgeInnerFolder(const struct stat& st, const std::string& root, const std::string& relative,
                                             const User& user, const MountModes& modes, bool narrowable) {
    if (!keepsModes(modes)) return std::nullopt;
    if (!S_ISDIR(st.st_mode) || st.st_uid != user.uid)
        return DriveRefusal{root, DriveRefusal::Kind::innerFolderForeign, relative};
    if (othersWrite(st, modes, user) == 0 || narrowable) return std::nullopt;
    return DriveRefusal{root, DriveRefusal::Kind::innerFolderOpen, relative};
}

void narrowInnerFolder(int folderFd, const User& user, const MountModes& modes) {
    struct stat st {};
    if (!keepsModes(modes) || platform::statusOf(folderFd, st) != 0 || st.st_uid != user.uid) return;
    const mode_t loose = othersWrite(st, modes, user);
    if (loose != 0) platform::calls().fchmod(folderFd, st.st_mode & 07777 & ~loose);
}

std::optional<DriveRefusal> volumeRefusal(const std::string& mountPath, const std::string& mountType,
                                          bool onBlockDevice) {
    if (isDiskFileSystem(mountType) && onBlockDevice) return std::nullopt;
    return DriveRefusal{mountPath, DriveRefusal::Kind::notADisk, mountType};
}

std::optional<DriveRefusal> formatRefusal(const std::string& mountPath, const platform::FileSystemKind* kind) {
    if (!kind || !kind->disk || kind->usable || kind->advice == platform::RefusalAdvice::fat32) return std::nullopt;
    if (kind->name == "fuseblk" || kind->name == "fuse") return std::nullopt;
    return DriveRefusal{mountPath, DriveRefusal::Kind::formatNotUsable, std::string(kind->name)};
}

platform::MountModes modesAt(const std::string& path, const platform::SystemRoots& roots) {
    platform::MountStatus status;
    if (path.empty() || platform::statxWithMount(path.c_str(), 0, false, status) != 0 || !status.mountID) return {};
    for (const auto& entry : platform::MountTable::read(roots.mountinfo)) {
        if (static_cast<uint64_t>(entry.mountId) == *status.mountID) return platform::MountFacts::modesOf(entry);
    }
    return {};
}

Examined judgeMount(const platform::MountEntry& entry, bool onBlockDevice, const User& user,
                    const std::optional<std::string>& tightenFor) {
    auto refusal = volumeRefusal(entry.mountPoint, entry.fsType, onBlockDevice);
    // Nothing is narrowed on a volume that can't be the drive anyway.
    Examined examined = examine(entry.mountPoint, user, refusal ? std::nullopt : tightenFor,
                                platform::MountFacts::modesOf(entry));
    if (refusal) examined.refusal = refusal;
    return examined;
}

Examined judgeMountedAt(const std::string& mountPath, const User& user, const std::optional<std::string>& tightenFor,
                        const platform::SystemRoots& roots) {
    const auto table = platform::MountTable::read(roots.mountinfo);
    for (auto entry = table.rbegin(); entry != table.rend(); ++entry) {
        if (entry->mountPoint != mountPath) continue;
        const bool onBlockDevice = platform::BlockDevices::nameForMount(*entry, roots).has_value();
        return judgeMount(*entry, onBlockDevice, user, tightenFor);
    }
    return examine(mountPath, user, tightenFor);
}

Examined examine(const std::string& root, const User& user, const std::optional<std::string>& tightenFor) {
    return examine(root, user, tightenFor, modesAt(root));
}

Examined examine(const std::string& root, const User& user, const std::optional<std::string>& tightenFor,
                 const platform::MountModes& modes) {
    Examined result;
    const std::string folderName = DriveLayout::folderName(root);
    const platform::Fd folderFd = platform::openDirectory(AT_FDCWD, PathUtil::join(root, folderName), O_NOFOLLOW);
    if (!folderFd) {
        result.refusal = judgeWithoutFolder(root, user, modes);
        return result;
    }
    if (const platform::Fd markerFd = openMarker(folderFd.get())) {
        try {
            if (auto contents = DriveMarker::decode(AtomicFile::readOpen(markerFd, folderName, kMaxMarkerBytes))) {
                result.drive = Drive{contents->id, contents->name};
            }
        } catch (const std::exception&) {
        }
    }

    const bool narrowable = keepsModes(modes) && !isReadOnly(folderFd.get());
    result.refusal = judgeFolder(root, folderFd.get(), folderName, user, modes, narrowable);
    const bool tighten = tightenFor && result.drive && result.drive->id == *tightenFor;
    if (result.refusal || !tighten || !narrowable) return result;
    narrow(folderFd.get(), user);
    result.refusal = judgeFolder(root, folderFd.get(), folderName, user, modes, false);
    return result;
}

std::optional<DriveRefusal> judgeOpenFolder(const std::string& root, int folderFd, const User& user) {
    return judgeOpenFolder(root, folderFd, user, modesAt(root));
}

std::optional<DriveRefusal> judgeOpenFolder(const std::string& root, int folderFd, const User& user,
                                            const platform::MountModes& modes) {
    return judgeFolder(root, folderFd, DriveLayout::folderName(root), user, modes, false);
}

}  // namespace keldwick::DriveTrust
