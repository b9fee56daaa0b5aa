#include "engine/LocatedDrive.h"

#include <cerrno>
#include <map>
#include <mutex>

#include "drives/DriveLayout.h"
#include "drives/DriveTrust.h"
#include "drives/VolumeInfo.h"
#include "foundation/EngineError.h"
#include "foundation/Log.h"
#include "foundation/PathUtil.h"
#include "platform/FileIO.h"
#include "platform/FileStatus.h"
#include "platform/FileSystemKinds.h"
#include "platform/POSIXFailure.h"
#include "platform/Statx.h"
#include "platform/Users.h"

namespace keldwick {

namespace {

std::optional<LocatedDrive::Identity> identify(const std::string& path) {
    platform::MountStatus status;
    if (path.empty() || platform::statxWithMount(path.c_str(), AT_SYMLINK_NOFOLLOW, false, status) != 0)
        return std::nullopt;
    if (!S_ISDIR(status.record.stx_mode)) return std::nullopt;
    LocatedDrive::Identity identity;
    identity.device = platform::deviceNumber(status.record.stx_dev_major, status.record.stx_dev_minor);
    identity.inode = status.record.stx_ino;
    identity.mountID = status.mountID.value_or(0);
    return identity;
}

bool sameFile(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

// The manifest's names, current and legacy.
constexpr const char* kManifestNames[] = {".keldwick-manifest.jsonl", ".marrowfen-manifest.jsonl"};

std::string replacedText() {
    return "The Keldwick folder on your drive was replaced while Keldwick was using it, so Keldwick stopped. Nothing "
           "was lost.";
}

std::string refusedText(const DriveRefusal& refusal) {
    return "Keldwick won't move files to the volume at " + refusal.mountPath + ". " + refusal.explanation();
}

}  // namespace

struct LocatedDrive::ReachedFolders {
    struct Folder {
        std::shared_ptr<const platform::Fd> fd;
        bool exposed = false;
    };
    // Enough for the folders of the items a pass works on in turn; past it all are let go
    // and opened again as needed, so that a drive of many folders never holds as many
    // descriptors.
    static constexpr size_t limit = 256;

    std::optional<Folder> find(const std::string& below) {
        std::lock_guard guard(lock);
        auto found = folders.find(below);
        if (found == folders.end()) return std::nullopt;
        return found->second;
    }
    void keep(const std::string& below, Folder folder) {
        std::lock_guard guard(lock);
        if (folders.size() >= limit && !folders.contains(below)) folders.clear();
        folders.insert_or_assign(below, std::move(folder));
    }
    void forget(const std::string& below) {
        std::lock_guard guard(lock);
        folders.erase(below);
    }

    std::mutex lock;
    // By the path below the Keldwick folder.
    std::map<std::string, Folder> folders;
};

namespace {

// The path below the Keldwick folder of the place's folder at `depth` (1: the first below it).
std::string pathBelow(const std::vector<std::string>& names, size_t depth) {
    std::string below;
    for (size_t i = 1; i <= depth; ++i) below += (i > 1 ? "/" : "") + names[i];
    return below;
}

}  // namespace

struct LocatedDrive::Held {
    platform::Fd folder;
    struct stat status {};
    // The mount's modes as found: they change only with a remount, which the root's
    // mount id tells.
    platform::MountModes modes;
    DriveTrust::User user;
};

LocatedDrive::LocatedDrive(const DriveLocating* locator, std::string driveID, std::string root, Identity rootIdentity,
                           std::shared_ptr<const Held> held, std::optional<DriveRefusal> refusal)
    : locator_(locator),
      driveID_(std::move(driveID)),
      root_(std::move(root)),
      rootIdentity_(rootIdentity),
      held_(std::move(held)),
      refusal_(std::move(refusal)),
      reached_(std::make_shared<ReachedFolders>()) {
    realFolder_ = DriveLayout::appFolder(root_);
    heldPath_ = realFolder_;
    if (!held_->folder) return;
    heldPath_ = "/proc/self/fd/" + std::to_string(held_->folder.get());
    struct stat through {};
    // Without procfs the folder is reached by name alone.
    if (platform::statusFollowing(heldPath_ + "/.", through) != 0 || !sameFile(through, held_->status)) heldPath_ = realFolder_;
}

std::optional<LocatedDrive> LocatedDrive::open(const DriveLocating* locator, const std::string& driveID,
                                               const std::string& root, std::optional<DriveRefusal> refusal,
                                               bool create, const std::string& computerFolder) {
    auto rootIdentity = identify(root);
    if (!rootIdentity) return std::nullopt;
    platform::Fd rootFd = platform::openDirectory(AT_FDCWD, root, O_NOFOLLOW);
    if (!rootFd) return std::nullopt;
    const std::string name = DriveLayout::folderName(root);
    // A drive given as a plain folder may not have its Keldwick folder yet; a move makes it.
    if (create && platform::calls().mkdirAt(rootFd.get(), name.c_str(), 0711) == 0)
        platform::flushFolderAt(rootFd.get(), root);
    auto held = std::make_shared<Held>();
    held->folder = platform::openDirectory(rootFd.get(), name, O_NOFOLLOW);
    if (!held->folder) {
        // Nothing of this drive's is there yet: nothing to read, and nothing is written
        // without the folder (a dry run, a restore of a copy that isn't there).
        if (errno != ENOENT || create) return std::nullopt;
        return LocatedDrive(locator, driveID, root, *rootIdentity, std::move(held), std::move(refusal));
    }
    if (platform::statusOf(held->folder.get(), held->status) != 0) return std::nullopt;
    held->modes = DriveTrust::modesAt(root);
    held->user = DriveTrust::User::current();
    held->user.computerFolder = computerFolder;
    if (!refusal) refusal = DriveTrust::judgeOpenFolder(root, held->folder.get(), held->user, held->modes);
    return LocatedDrive(locator, driveID, root, *rootIdentity, std::move(held), std::move(refusal));
}

LocatedDrive LocatedDrive::locate(const DriveLocating* locator, const std::string& driveID, bool forWriting,
                                  const std::string& computerFolder) {
    auto root = locator ? locator->mountPoint(driveID) : std::nullopt;
    if (!root) throw EngineError::driveUnavailable();
    // Whatever found the drive, nothing new goes to a format Keldwick can't use: the
    // volume's own word on its format (a FUSE mount's included), as the chooser asks it.
    const auto volume = VolumeInfo::read(*root);
    if (volume)
        if (auto refusal = DriveTrust::formatRefusal(*root, platform::FileSystemKinds::named(volume->fileSystem)))
            throw EngineError::driveUntrusted(refusedText(*refusal));
    auto located = open(locator, driveID, *root, std::nullopt, forWriting, computerFolder);
    if (!located) throw EngineError::driveUnavailable();
    if (located->refusal_) throw EngineError::driveUntrusted(refusedText(*located->refusal_));
    if (volume) located->fileSystem_ = volume->fileSystem;
    return std::move(*located);
}

LocatedDrive LocatedDrive::locateToBringBack(const DriveLocating* locator, const std::string& driveID,
                                             const std::string& computerFolder) {
    if (!locator) throw EngineError::driveUnavailable();
    if (auto root = locator->mountPoint(driveID)) {
        if (auto located = open(locator, driveID, *root, std::nullopt, false, computerFolder)) return std::move(*located);
    }
    for (const auto& refusal : locator->refusals(driveID)) {
        if (auto located = open(locator, driveID, refusal.mountPath, refusal, false, computerFolder))
            return std::move(*located);
    }
    throw EngineError::driveUnavailable();
}

std::string LocatedDrive::manifestFolder() const {
    // The manifest opens its folder without following a final link; "." is none.
    return heldPath_ == realFolder_ ? realFolder_ : heldPath_ + "/.";
}

std::string LocatedDrive::Place::folderPath() const {
    return "/proc/self/fd/" + std::to_string(folderFd());
}

std::string LocatedDrive::Place::path() const { return folderPath() + "/" + name; }

std::shared_ptr<const platform::Fd> LocatedDrive::Place::removeEmptyFolders() const {
    // folders[0] is the Keldwick folder and folders[1] this computer's: both stay.
    size_t standing = folders.size() - 1;
    while (standing >= 2 &&
           platform::calls().unlinkAt(folders[standing - 1]->get(), names[standing].c_str(), AT_REMOVEDIR) == 0) {
        if (reached) reached->forget(pathBelow(names, standing));
        --standing;
    }
    return folders[standing];
}

LocatedDrive::Place LocatedDrive::reach(const std::string& drivePath, Reach how) const {
    const std::string prefix = realFolder_ + "/";
    if (!held_->folder || drivePath.compare(0, prefix.size(), prefix) != 0 || drivePath.size() == prefix.size())
        throw POSIXFailure("resolve", drivePath, EXDEV);
    std::vector<std::string> parts;
    for (size_t start = prefix.size();;) {
        const size_t slash = drivePath.find('/', start);
        parts.push_back(drivePath.substr(start, slash == std::string::npos ? std::string::npos : slash - start));
        if (slash == std::string::npos) break;
        start = slash + 1;
    }
    for (const auto& part : parts)
        if (part.empty() || part == "." || part == "..") throw POSIXFailure("resolve", drivePath, EXDEV);

    Place place;
    place.name = parts.back();
    parts.pop_back();
    // The held descriptor is shared, never closed here.
    place.folders.push_back(std::shared_ptr<const platform::Fd>(held_, &held_->folder));
    place.names.emplace_back();
    std::string relative = PathUtil::name(realFolder_);  // the held folder, never looked up again
    std::string below;
    for (const auto& part : parts) {
        relative += "/" + part;
        below += (below.empty() ? "" : "/") + part;
        // Reading takes a folder judged before as it was judged; writing judges each anew,
        // as it narrows what it may.
        if (how == Reach::read) {
            if (auto known = reached_->find(below)) {
                place.exposed = place.exposed || known->exposed;
                place.folders.push_back(std::move(known->fd));
                place.names.push_back(part);
                continue;
            }
        }
        const int parent = place.folders.back()->get();
        platform::Fd folder = platform::openDirectory(parent, part, O_NOFOLLOW);
        if (!folder && errno == ENOENT && how == Reach::write) {
            // Made for the user alone; a folder made meanwhile by somebody else is judged below.
            if (platform::calls().mkdirAt(parent, part.c_str(), 0700) == 0) {
                platform::flushFolderAt(parent, relative);
            } else if (errno != EEXIST) {
                throw POSIXFailure("mkdir", PathUtil::join(root_, relative), errno);
            }
            folder = platform::openDirectory(parent, part, O_NOFOLLOW);
        }
        if (!folder) {
            // O_NOFOLLOW | O_DIRECTORY gives ENOTDIR for a link as for a file: a link is told as one.
            const int error = errno;
            struct stat what {};
            const bool isLink = platform::statusAt(parent, part.c_str(), what, AT_SYMLINK_NOFOLLOW) == 0 &&
                                S_ISLNK(what.st_mode);
            throw POSIXFailure("resolve", drivePath, isLink ? ELOOP : error);
        }
        struct stat st {};
        if (platform::statusOf(folder.get(), st) != 0) throw POSIXFailure("resolve", drivePath, errno);
        if (st.st_dev != held_->status.st_dev) throw POSIXFailure("resolve", drivePath, EXDEV);
        if (how == Reach::write) {
            DriveTrust::narrowInnerFolder(folder.get(), held_->user, held_->modes);
            if (platform::statusOf(folder.get(), st) != 0) throw POSIXFailure("resolve", drivePath, errno);
        }
        bool exposed = false;
        if (auto refusal = DriveTrust::judgeInnerFolder(st, root_, relative, held_->user, held_->modes, false)) {
            const std::string text = refusal->explanation();
            if (!*exposure_) {
                *exposure_ = text;
                Log::notice("drives", "Found on the drive at " + root_ + ": " + text);
            }
            exposed = place.exposed = true;
            if (how == Reach::write) throw EngineError::driveUntrusted("Keldwick won't move files to the volume at " + root_ + ". " + text);
        }
        auto held = std::make_shared<const platform::Fd>(std::move(folder));
        reached_->keep(below, {held, exposed});
        place.folders.push_back(std::move(held));
        place.names.push_back(part);
    }
    place.reached = reached_;
    return place;
}

std::optional<std::string> LocatedDrive::exposure() const { return *exposure_; }

void LocatedDrive::keepPrivate(const std::string& machineFolder) const {
    if (!trusted() || !held_->folder) return;
    const int folder = held_->folder.get();
    const uid_t user = platform::effectiveUserID();
    auto narrow = [&](const char* name, mode_t keep, bool isFolder) {
        platform::Fd item = isFolder ? platform::openDirectory(folder, name, O_NOFOLLOW)
                                     : platform::openReadAt(folder, name, O_NOFOLLOW | O_NONBLOCK);
        struct stat status {};
        if (!item || platform::statusOf(item.get(), status) != 0 || status.st_uid != user) return;
        if (!isFolder && !S_ISREG(status.st_mode)) return;
        if ((status.st_mode & 07777 & ~keep) == 0) return;
        // Where modes come from the mount the change is refused or ignored: the item stays as it is.
        (void)platform::calls().fchmod(item.get(), status.st_mode & keep);
    };
    if (!machineFolder.empty()) {
        if (platform::calls().mkdirAt(folder, machineFolder.c_str(), 0700) == 0) {
            platform::flushFolderAt(folder, PathUtil::join(realFolder_, machineFolder));
        } else if (errno != EEXIST) {
            throw POSIXFailure("mkdir", PathUtil::join(realFolder_, machineFolder), errno);
        }
        narrow(machineFolder.c_str(), 0700, true);
    }
    for (const char* manifest : kManifestNames) narrow(manifest, 0600, false);
}

std::optional<EngineError> LocatedDrive::problem() const {
    if (trusted()) {
        try {
            auto root = locator_ ? locator_->mountPoint(driveID_) : std::nullopt;
            if (!root || *root != root_) return EngineError::driveUnavailable();
        } catch (const std::exception&) {
            return EngineError::driveUnavailable();
        }
    }
    auto now = identify(root_);
    if (!now || *now != rootIdentity_) return EngineError::driveUnavailable();
    if (!held_->folder) return std::nullopt;
    struct stat atPath {};
    if (platform::statusNoFollow(realFolder_, atPath) != 0 || !sameFile(atPath, held_->status))
        return EngineError::driveUntrusted(replacedText());
    if (trusted()) {
        // Judged for the user it was located for: reading the user and group databases
        // again at every look would cost a read of each per step of every item.
        if (auto refusal = DriveTrust::judgeOpenFolder(root_, held_->folder.get(), held_->user, held_->modes))
            return EngineError::driveUntrusted(refusedText(*refusal));
    }
    return std::nullopt;
}

bool LocatedDrive::isStillThere() const { return !problem().has_value(); }

void LocatedDrive::confirm() const {
    if (auto why = problem()) throw *why;
}

}  // namespace keldwick
