#include "drives/DriveTrust.h"

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <set>

#include "drives/DriveLayout.h"
#include "drives/DriveMarker.h"
#include "foundation/AtomicFile.h"
#include "foundation/FileOps.h"
#include "foundation/PathUtil.h"
#include "platform/FileIO.h"
#include "platform/MountFacts.h"

namespace keldwick::DriveTrust {

namespace {

constexpr size_t kMaxMarkerBytes = 1u << 20;

// Disk file systems in the drive checks' vocabulary. FUSE counts only as "fuseblk",
// which the kernel mounts from a block device for root alone.
bool isDiskFileSystem(const std::string& mountType) {
    static const std::set<std::string, std::less<>> disk = {
        "ext2", "ext3", "ext4",  "btrfs", "xfs",  "f2fs",   "bcachefs", "jfs", "reiserfs",
        "nilfs2", "msdos", "exfat", "ntfs", "hfs", "hfs-standard", "apfs", "udf"};
    if (mountType == "fuseblk") return true;
    if (mountType.rfind("fuse", 0) == 0) return false;  // any user may mount FUSE
    return disk.count(platform::MountFacts::fileSystemName(mountType, std::nullopt)) > 0;
}

// Judges an opened folder or file; narrows it first when `tighten` and it is the user's.
std::optional<DriveRefusal> judge(const platform::Fd& file, const std::string& root, const std::string& what,
                                  const User& user, bool tighten) {
    struct stat st {};
    if (::fstat(file.get(), &st) != 0) return DriveRefusal{root, DriveRefusal::Kind::anotherOwner, what};
    if (st.st_uid != user.uid && st.st_uid != 0) return DriveRefusal{root, DriveRefusal::Kind::anotherOwner, what};
    const bool privateGroup = user.privateGroup && st.st_gid == *user.privateGroup;
    const mode_t loose = S_IWOTH | (privateGroup ? 0 : S_IWGRP);
    if ((st.st_mode & loose) == 0) return std::nullopt;
    if (st.st_uid == user.uid) {
        if (!tighten) return std::nullopt;  // it will be narrowed when used
        // FAT and friends take their modes from the mount: the change may be refused or
        // ignored, so the result is read back.
        if (::fchmod(file.get(), st.st_mode & 07777 & ~loose) == 0 && ::fstat(file.get(), &st) == 0 &&
            (st.st_mode & loose) == 0) {
            return std::nullopt;
        }
    }
    return DriveRefusal{root, DriveRefusal::Kind::othersCanChange, what};
}

}  // namespace

User User::current() {
    User user;
    user.uid = ::geteuid();
    std::string name;
    gid_t primary = ::getegid();
    if (const passwd* entry = ::getpwuid(user.uid); entry && entry->pw_name) {
        name = entry->pw_name;
        primary = entry->pw_gid;
    }
    if (const group* entry = ::getgrgid(primary); entry && entry->gr_name && !name.empty() && name == entry->gr_name) {
        user.privateGroup = primary;
    }
    return user;
}

std::optional<DriveRefusal> volumeRefusal(const std::string& mountPath, const std::string& mountType,
                                          bool onBlockDevice) {
    if (isDiskFileSystem(mountType) && onBlockDevice) return std::nullopt;
    return DriveRefusal{mountPath, DriveRefusal::Kind::notADisk, mountType};
}

Examined examine(const std::string& root, const User& user, const std::optional<std::string>& tightenFor) {
    Examined result;
    const std::string folder = DriveLayout::appFolder(root);
    const platform::Fd folderFd = platform::openDirectory(AT_FDCWD, folder, O_NOFOLLOW);
    if (!folderFd) return result;
    const std::string marker = firstExistingPath(DriveMarker::fileNames(), folder);
    const platform::Fd markerFd =
        platform::openReadAt(folderFd.get(), PathUtil::name(marker).c_str(), O_NOFOLLOW | O_NONBLOCK);
    if (!markerFd) return result;
    std::optional<DriveMarker::Contents> contents;
    try {
        contents = DriveMarker::decode(AtomicFile::readOpen(markerFd, marker, kMaxMarkerBytes));
    } catch (const std::exception&) {
        return result;
    }
    if (!contents) return result;
    result.drive = Drive{contents->id, contents->name};

    const bool tighten = tightenFor && *tightenFor == contents->id;
    result.refusal = judge(folderFd, root, PathUtil::name(folder) + " folder", user, tighten);
    if (!result.refusal) result.refusal = judge(markerFd, root, "drive marker", user, tighten);
    return result;
}

std::optional<DriveRefusal> judgeOpenFolder(const std::string& root, int folderFd, const User& user) {
    const std::string what = DriveLayout::folderName(root) + " folder";
    struct stat st {};
    if (::fstat(folderFd, &st) != 0) return DriveRefusal{root, DriveRefusal::Kind::anotherOwner, what};
    if (st.st_uid != user.uid && st.st_uid != 0) return DriveRefusal{root, DriveRefusal::Kind::anotherOwner, what};
    const bool privateGroup = user.privateGroup && st.st_gid == *user.privateGroup;
    if (st.st_mode & (S_IWOTH | (privateGroup ? 0 : S_IWGRP)))
        return DriveRefusal{root, DriveRefusal::Kind::othersCanChange, what};
    // Whoever may write the folder above may rename this one aside and put another in its place.
    const platform::Fd above = platform::openDirectory(folderFd, "..");
    struct stat up {};
    if (!above || ::fstat(above.get(), &up) != 0) return DriveRefusal{root, DriveRefusal::Kind::othersCanChange, what};
    const bool upPrivateGroup = user.privateGroup && up.st_gid == *user.privateGroup;
    const bool othersWrite = (up.st_mode & S_IWOTH) || ((up.st_mode & S_IWGRP) && !upPrivateGroup);
    const bool ownedByOthers = up.st_uid != user.uid && up.st_uid != 0;
    if (ownedByOthers || (othersWrite && !(up.st_mode & S_ISVTX)))
        return DriveRefusal{root, DriveRefusal::Kind::othersCanChange, what};
    return std::nullopt;
}

}  // namespace keldwick::DriveTrust
