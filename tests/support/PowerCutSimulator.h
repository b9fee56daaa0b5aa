#pragma once
// A stand-in for the core's file-system calls that plays out a power cut. It passes every
// call to the real system and remembers what is not yet durable: the bytes a file held
// before it was written since its last flush, and each entry created, renamed or removed
// in a folder since that folder's last flush. A cut then rebuilds what a journaling file
// system could leave after losing power: every file's bytes as at its last flush, every
// such entry change undone, newest first. A flush of a folder makes its entry changes
// durable (a rename counts in the folder it renamed into; an exchange in either); a
// syncfs makes everything on its volume durable. Volumes are told apart by the roots the
// simulator is given (two folders of one test file system can stand for two volumes),
// else by device number.
//
// The journal's own durability is SQLite's: a watched journal's commits are cut points
// too. Cutting at a commit refuses that commit, so the transaction is lost as it would be.
//
// Metadata changed through the layer (a file's or folder's mode, owner, times, extended
// attributes and inode flags, set by descriptor or by path) is as fragile as bytes: until
// that item is flushed, or its volume synced, a cut puts back what it was at its last
// flush. A link's own times and attributes have no flush of their own and count as
// durable at once. A lock (flock) is no state on disk: it passes through, power or not.

#include <sys/types.h>

#include <cerrno>
#include <cstddef>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "foundation/Journal.h"
#include "platform/FileIO.h"

namespace keldwick::test {

// Thrown by every call once the power is off. Deliberately not a std::exception, so that no
// handler in the core that catches failures in general can mistake it for one and carry on.
struct PowerCut {
    int event;  // the flush, syncfs or commit the power went at, counted from 1
};

class PowerCutSimulator final : public platform::FileSystemCalls {
public:
    // `volumeRoots` are the folders that stand for separate volumes. `keepFolder` (created
    // if missing) must be on the same file system as them and outside them: inodes that are
    // removed or replaced are kept there by a hard link until the cut, so an undone removal
    // brings back the very same file.
    PowerCutSimulator(std::vector<std::string> volumeRoots, std::string keepFolder);
    ~PowerCutSimulator() override;
    PowerCutSimulator(const PowerCutSimulator&) = delete;
    PowerCutSimulator& operator=(const PowerCutSimulator&) = delete;

    // Counts the journal's commits as cut points, until the simulator goes.
    void watch(std::shared_ptr<Journal> journal);

    // Cuts the power at the `event`th flush, syncfs or journal commit from now on (0: never).
    // That call fails before it takes effect: a flush with EIO (it may be made where no
    // exception may pass, as in a best-effort flush), a commit refused (the core sees
    // SQLiteError). From then on, until cutPower(), every call throws PowerCut (or, while an
    // exception unwinds, fails with EIO) and every commit is refused, so nothing more becomes
    // durable whatever the core does about the failure.
    void cutAt(int event);
    // Flushes, syncfs calls and commits so far, cut or not.
    int events() const;
    bool isOff() const;

    // The power goes off now (if it isn't already), and the trees are rebuilt as the volumes
    // would come back. Afterwards power is back on, nothing is pending and no cut is armed.
    void cutPower();

    int openAt(int dirFd, const char* path, int flags, mode_t mode) override;
    ssize_t write(int fd, const void* data, std::size_t size) override;
    ssize_t pwrite(int fd, const void* data, std::size_t size, off_t offset) override;
    int ftruncate(int fd, off_t size) override;
    // A punched hole changes the bytes as a write does.
    int fallocate(int fd, int mode, off_t offset, off_t length) override;
    int fsync(int fd) override;
    int syncfs(int fd) override;
    // Write-back started or awaited makes nothing durable, so it is no cut point either.
    int syncFileRange(int fd, off_t offset, off_t count, unsigned flags) override;
    int renameAt(int fromDirFd, const char* from, int toDirFd, const char* to, unsigned flags) override;
    int unlinkAt(int dirFd, const char* path, int flags) override;
    int mkdirAt(int dirFd, const char* path, mode_t mode) override;
    int symlinkAt(const char* target, int dirFd, const char* path) override;
    int linkAt(int fromDirFd, const char* from, int toDirFd, const char* to, int flags) override;
    int fchmod(int fd, mode_t mode) override;
    int futimens(int fd, const struct timespec times[2]) override;
    int fsetxattr(int fd, const char* name, const void* value, std::size_t size, int flags) override;
    int fchown(int fd, uid_t owner, gid_t group) override;
    int fchmodAt(int dirFd, const char* path, mode_t mode, int flags) override;
    int fchownAt(int dirFd, const char* path, uid_t owner, gid_t group, int flags) override;
    int utimensAt(int dirFd, const char* path, const struct timespec times[2], int flags) override;
    int lsetxattr(const char* path, const char* name, const void* value, std::size_t size, int flags) override;
    int lremovexattr(const char* path, const char* name) override;
    int setInodeFlags(int fd, int flags) override;
    // The blocks a clone would share are not tracked: the copier writes the file instead.
    int cloneFile(int, int) override {
        errno = EOPNOTSUPP;
        return -1;
    }
    // A lock makes nothing durable; with the power off taking one is refused like every
    // call, while letting one go still works (a holder's destructor lets go).
    int flock(int fd, int operation) override;

private:
    struct Inode {
        dev_t device = 0;
        ino_t number = 0;
        auto operator<=>(const Inode&) const = default;
    };
    // A folder entries were changed in, held open so it can be found however it moves.
    struct Folder {
        Inode inode;
        platform::Fd handle;
        std::string volume;
    };
    // A file's bytes as at its last flush, and a descriptor to put them back through.
    struct Snapshot {
        std::string bytes;
        platform::Fd writer;
        std::string volume;
    };
    // A file's or folder's metadata as at its last flush, and a descriptor to put it back through.
    struct Metadata {
        mode_t mode = 0;
        uid_t owner = 0;
        gid_t group = 0;
        struct timespec times[2] = {};
        std::map<std::string, std::string> attributes;
        std::optional<int> inodeFlags;  // nothing where the file system has none
        platform::Fd handle;            // may be an O_PATH descriptor: used through /proc/self/fd
        std::string volume;
    };
    // What stood at a name before a change, for putting it back.
    struct Displaced {
        Inode inode;
        bool folder = false;
        mode_t mode = 0;
        std::string kept;                    // its name in the keep folder (not for folders)
        std::shared_ptr<Folder> asFolder;    // its handle, when entries in it were changed
    };
    struct Change {
        enum class Kind { created, removed, renamed, exchanged } kind;
        std::shared_ptr<Folder> folder;  // created, removed, or renamed from
        std::string name;
        std::shared_ptr<Folder> toFolder;  // renamed or exchanged into
        std::string toName;
        Inode inode;                      // the entry created, or the one renamed
        std::optional<Displaced> displaced;  // removed, replaced by a rename, or exchanged
        bool durable = false;
    };

    static int commitHook(void* self);
    // Logs the entry a successful call created at `path`, so a cut can take it away again.
    void recordCreated(int dirFd, const char* path);
    int powerGone() const;  // throws PowerCut, or fails with EIO while an exception unwinds
    bool reachEvent();      // counts a cut point; true when the power goes here
    void noteBytesChange(int fd);
    void noteMetadataChange(int fd);
    // The same for the item at `path` (beneath `dirFd`), a final link followed unless `noFollow`.
    void noteMetadataChangeAt(int dirFd, const char* path, bool noFollow);
    static void putBackMetadata(const Metadata& metadata);
    std::shared_ptr<Folder> folderOf(int dirFd, const std::string& path, std::string& name);
    std::shared_ptr<Folder> folderAt(platform::Fd handle);
    std::optional<Displaced> displace(const std::shared_ptr<Folder>& folder, const std::string& name);
    std::string volumeOf(const std::string& path, dev_t device) const;
    std::string pathOf(int fd) const;
    bool holds(const Folder& folder, const std::string& name, Inode inode) const;
    void undo(const Change& change);
    void putBack(const Folder& folder, const std::string& name, const Displaced& displaced);
    void forgetKept();

    mutable std::recursive_mutex lock_;
    std::vector<std::string> roots_;
    std::string keepFolder_;
    platform::Fd keep_;
    int keptCount_ = 0;
    std::vector<std::string> keptNames_;
    std::shared_ptr<Journal> journal_;
    int events_ = 0;
    int cutAt_ = 0;
    bool off_ = false;
    std::map<Inode, std::shared_ptr<Folder>> folders_;
    std::map<Inode, Snapshot> snapshots_;
    std::map<Inode, Metadata> metadata_;
    std::vector<Change> changes_;
    std::map<Inode, Inode> renumbered_;  // folders brought back under a new inode, during a cut
};

}  // namespace keldwick::test
