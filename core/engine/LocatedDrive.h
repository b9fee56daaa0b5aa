#pragma once
// The drive an operation located, held for the length of the operation.
//
// A drive mounted at a fixed folder (/mnt/backup) leaves that folder behind on the
// startup disk when it goes away, and paths beneath it resolve there from then on: a copy
// would land, unseen, on the startup disk and the original be deleted on the strength of
// it. And whoever may write the drive's top folder can rename the Keldwick folder aside
// and put a folder of his own in its place between two looks. So the operation opens the
// Keldwick folder once, without following links, judges that open folder as the locator
// judges volumes, and reaches everything it writes on the drive through that descriptor
// (beneath()). Before each step that writes to or judges the drive it confirms that the
// root is still the one it located and the folder there is still the one it holds.
//
// The folder is held only while the operation runs: a descriptor kept open while idle
// would keep the drive from being ejected.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "drives/DriveLocating.h"
#include "drives/DriveRefusal.h"
#include "foundation/EngineError.h"
#include "platform/FileIO.h"
#include "platform/Types.h"

namespace keldwick {

class LocatedDrive {
    struct ReachedFolders;

public:
    // The device, inode and mount id of a folder (links not followed).
    struct Identity {
        uint64_t device = 0;
        uint64_t inode = 0;
        uint64_t mountID = 0;
        bool operator==(const Identity&) const = default;
    };

    // A place on the drive reached from the held Keldwick folder one folder at a time
    // (each opened without following links, on the same file system, and judged as it was
    // opened), with every folder on the way held open. `path()` names the last component
    // through its folder's descriptor, so nothing above it is looked up by name again;
    // valid while the Place lives.
    struct Place {
        // The folders from the Keldwick folder down to the item's parent, and their names
        // (the Keldwick folder's is empty).
        std::vector<std::shared_ptr<const platform::Fd>> folders;
        std::vector<std::string> names;
        std::string name;  // the last component, the item
        // Whether a folder on the way belongs to another account or others may write to
        // it: what lies beneath may have been put there by somebody else.
        bool exposed = false;
        // The drive's folders reached so far, which removeEmptyFolders keeps current.
        std::shared_ptr<ReachedFolders> reached;

        int folderFd() const { return folders.back()->get(); }
        // The parent folder, and the item in it, through the parent's descriptor.
        std::string folderPath() const;
        std::string path() const;
        // Removes the folders on the way that are empty, from the parent up (never the
        // Keldwick folder nor this computer's folder); gives the nearest that is left, whose
        // entries changed.
        std::shared_ptr<const platform::Fd> removeEmptyFolders() const;
    };
    enum class Reach {
        read,    // folders must exist; one others could have written marks the place exposed
        write,   // missing folders are made (0700); one that is another account's or that
                 // others may write (when it can't be narrowed) is refused
    };

    // The drive as the locator takes it, with its Keldwick folder open and judged; made
    // first (0711) when `forWriting` and it is missing, else a missing folder is held as
    // absent and nothing may be written. Throws EngineError::driveUnavailable when the
    // drive isn't there, driveUntrusted (naming why) when its Keldwick folder can't be
    // trusted, or when its format is one Keldwick won't move files to (the volume's
    // own word, DriveTrust::formatRefusal).
    // `computerFolder`, this computer's folder inside it, is judged with it (see
    // DriveTrust::User); none when empty.
    static LocatedDrive locate(const DriveLocating* locator, const std::string& driveID, bool forWriting = true,
                               const std::string& computerFolder = {});

    // For bringing items back only: the drive as locate() finds it, else a mounted volume
    // the locator refused that carries this drive's id, held as untrusted (trusted() is
    // false): what comes from it is taken only where it matches the journal, and nothing
    // is written there but the removal of an item's own copy and its manifest line.
    // Throws EngineError::driveUnavailable when no volume carries the id.
    static LocatedDrive locateToBringBack(const DriveLocating* locator, const std::string& driveID,
                                          const std::string& computerFolder = {});

    const std::string& root() const { return root_; }
    // Whether the locator took the volume and its Keldwick folder passed the judgement.
    bool trusted() const { return !refusal_.has_value(); }
    // Why it isn't trusted.
    const std::optional<DriveRefusal>& refusal() const { return refusal_; }

    // The held Keldwick folder as a path (its descriptor's entry in /proc, or its real
    // path where procfs is missing).
    const std::string& appFolder() const { return heldPath_; }
    // The same as DriveManifest wants it: a path whose last component is no link.
    std::string manifestFolder() const;
    // `drivePath`, a path in the Keldwick folder under root() (below the folder itself),
    // reached from the held folder as Place says. Reading takes the folders on the way as
    // they were opened and judged before while this drive is held (a few hundred at
    // most): many items share them. Throws POSIXFailure "resolve" with EXDEV
    // (outside the folder, "." or "..", another file system on the way), ELOOP (a link on
    // the way), ENOTDIR or ENOENT (reading: a folder missing), "mkdir" when making one
    // fails, and EngineError::driveUntrusted (writing: a folder of another account, or one
    // others may write that can't be narrowed), naming the folder.
    Place reach(const std::string& drivePath, Reach how) const;
    // The volume's format as the drive checks name it ("ext4", "msdos", ...), as locate()
    // read it; empty when it couldn't be read or the drive was located to bring back.
    const std::string& fileSystem() const { return fileSystem_; }
    // The sentence of the first inner folder found exposed, or nothing.
    std::optional<std::string> exposure() const;

    // Keeps what this computer keeps on an accepted drive private where its file system
    // keeps modes: creates this computer's folder 0700 (narrowing it when it is the user's
    // and open to others) and narrows the user's manifest to 0600. Nothing on an untrusted
    // drive, nothing that belongs to another account; a mode the file system won't take
    // is left as it is.
    void keepPrivate(const std::string& machineFolder) const;

    // Whether the drive is still at the same root of the same mount, its Keldwick folder
    // there still the one held and, when trusted, still judged trustworthy.
    bool isStillThere() const;
    // Throws unless isStillThere(): EngineError::driveUntrusted when the Keldwick folder was
    // replaced or loosened, driveUnavailable otherwise.
    void confirm() const;

private:
    struct Held;
    LocatedDrive(const DriveLocating* locator, std::string driveID, std::string root, Identity rootIdentity,
                 std::shared_ptr<const Held> held, std::optional<DriveRefusal> refusal);
    static std::optional<LocatedDrive> open(const DriveLocating* locator, const std::string& driveID,
                                            const std::string& root, std::optional<DriveRefusal> refusal,
                                            bool create, const std::string& computerFolder);
    // Why the drive can't be used now; nothing when it can.
    std::optional<EngineError> problem() const;

    const DriveLocating* locator_;
    std::string driveID_;
    std::string root_;
    Identity rootIdentity_;
    std::shared_ptr<const Held> held_;
    std::string realFolder_;
    std::string heldPath_;
    std::optional<DriveRefusal> refusal_;
    std::string fileSystem_;
    // The first inner folder found exposed by reach(), shared by the copies of this object.
    std::shared_ptr<std::optional<std::string>> exposure_ = std::make_shared<std::optional<std::string>>();
    // The inner folders reach() opened and judged, shared by the copies of this object.
    std::shared_ptr<ReachedFolders> reached_;
};

}  // namespace keldwick
