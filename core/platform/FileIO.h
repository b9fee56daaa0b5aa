#pragma once
// The one door through which the core opens, lists, changes and closes files. Every call
// that writes, flushes, renames, links, creates or deletes goes through `calls()`, so a
// test can fail any one of them or play out a power cut that drops whatever was not
// yet flushed. Reads and metadata queries change nothing and stay outside the table
// (FileReading.h, FileStatus.h). Descriptors are opened here and held as `Fd`, so each
// is closed exactly once.

// The flags its calls take (O_*, AT_*, FALLOC_FL_*, SYNC_FILE_RANGE_*, LOCK_*)
// come with it.
#include <fcntl.h>
#include <linux/falloc.h>
#include <sys/file.h>
#include <sys/types.h>
#include <sys/vfs.h>

#include <cstddef>
#include <ctime>
#include <string>
#include <vector>

namespace keldwick::platform {

// An owning file descriptor: closed exactly once, when its owner goes.
class Fd {
public:
    Fd() noexcept = default;
    explicit Fd(int fd) noexcept : fd_(fd) {}
    Fd(Fd&& other) noexcept : fd_(other.release()) {}
    Fd& operator=(Fd&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd() { reset(); }

    int get() const noexcept { return fd_; }
    bool valid() const noexcept { return fd_ >= 0; }
    explicit operator bool() const noexcept { return valid(); }
    // Gives the descriptor up without closing it.
    int release() noexcept {
        int fd = fd_;
        fd_ = -1;
        return fd;
    }
    // Closes the held descriptor (errors from close are not actionable here) and holds `fd`.
    void reset(int fd = -1) noexcept;

private:
    int fd_ = -1;
};

// Opens `name` for reading, close-on-exec always, with `flags` added (O_NOFOLLOW,
// O_NONBLOCK, O_DIRECTORY, O_PATH...). `name` is a path, or with `at` a name beneath the
// folder open as `at`. O_NOATIME among the flags keeps the file's last-access time where
// this process may ask for that (its owner or a privileged process): refused with EPERM,
// the open is made again without it. Interrupted opens are retried. On failure the Fd is
// invalid and errno says why.
Fd openRead(const std::string& path, int flags = 0);
Fd openReadAt(int at, const char* name, int flags = 0);

// Opens the folder `name` (a path with AT_FDCWD, else a name beneath the folder open as
// `at`) to list it and to reach its entries: openRead with O_DIRECTORY, O_NOATIME and
// `flags` (add O_NOFOLLOW to refuse a final link), so that listing it leaves its access
// time as it was wherever this process may ask for that. On failure the Fd is invalid
// and errno says why.
Fd openDirectory(int at, const std::string& name, int flags = 0);

// The names in `folder` (as openDirectory or duplicate gave it, and closed here) from its
// first entry whatever its offset, "." and ".." left out, sorted by bytes. Throws
// POSIXFailure "opendir" when the folder isn't open (the errno of the failed open) or
// can't be read as a folder, and "readdir" when reading fails part-way: never a shorter
// list. A folder held open for lookups is listed through a duplicate of its descriptor.
std::vector<std::string> readNames(Fd folder, const std::string& folderForErrors);

// A second descriptor of the same open folder or file (sharing its offset), close-on-exec.
// On failure the Fd is invalid and errno says why.
Fd duplicate(int fd);

// The names of the open folder for a walk that wants the entry types too, by inode
// number (not by name: a walk in that order reads the inodes as the disk holds them):
// `maybeFolder` says by position whether the entry may be a folder (its type is unknown
// or says so). False when reading fails part-way (the lists are then left as they were).
bool readNamesAndKinds(int folderFd, std::vector<std::string>& names, std::vector<bool>& maybeFolder);

// Closes `fd` now and gives close(2)'s result (errno set on failure), for writers whose
// file system reports a failed write only when the file is closed.
int closeReporting(Fd& fd) noexcept;

// The system calls that change the file system. Each behaves as the system call of
// the same name: it returns what that returns and sets errno as it does, so callers
// keep their own error texts. The default implementation is the real system; a test
// double derives from this and delegates to it.
class FileSystemCalls {
public:
    virtual ~FileSystemCalls() = default;

    // openat(2). With O_CREAT it may create a directory entry.
    virtual int openAt(int dirFd, const char* path, int flags, mode_t mode);
    virtual ssize_t write(int fd, const void* data, std::size_t size);
    virtual ssize_t pwrite(int fd, const void* data, std::size_t size, off_t offset);
    virtual int ftruncate(int fd, off_t size);
    // fallocate(2); the copier punches holes with it (FALLOC_FL_PUNCH_HOLE|FALLOC_FL_KEEP_SIZE).
    virtual int fallocate(int fd, int mode, off_t offset, off_t length);
    // fsync(2) of a file or of a folder (which makes its entries durable).
    virtual int fsync(int fd);
    // syncfs(2): everything on the volume holding `fd`.
    virtual int syncfs(int fd);
    // sync_file_range(2). Starting or awaiting write-back makes nothing durable: only an
    // fsync does (it also covers the metadata and the blocks' allocation).
    virtual int syncFileRange(int fd, off_t offset, off_t count, unsigned flags);
    // renameat2(2); `flags` 0, RENAME_NOREPLACE or RENAME_EXCHANGE.
    virtual int renameAt(int fromDirFd, const char* from, int toDirFd, const char* to, unsigned flags);
    // unlinkat(2); AT_REMOVEDIR removes an empty folder.
    virtual int unlinkAt(int dirFd, const char* path, int flags);
    virtual int mkdirAt(int dirFd, const char* path, mode_t mode);
    virtual int symlinkAt(const char* target, int dirFd, const char* path);
    // linkat(2): a further name for an existing file.
    virtual int linkAt(int fromDirFd, const char* from, int toDirFd, const char* to, int flags);
    // The metadata a copy takes from its original, durable only once the item is flushed.
    virtual int fchmod(int fd, mode_t mode);
    virtual int fchown(int fd, uid_t owner, gid_t group);
    virtual int futimens(int fd, const struct timespec times[2]);
    virtual int fsetxattr(int fd, const char* name, const void* value, std::size_t size, int flags);
    // fstatfs(2): a query, here so that a test can play a volume of another format.
    virtual int fstatfs(int fd, struct statfs* into);

    // Calls the layers above added to the table.
    // flock(2): a lock across processes; LOCK_EX waits for it. Changes nothing on disk;
    // here so that no lock is taken behind a test's back.
    virtual int flock(int fd, int operation);
    // fchmodat(2): a mode changed by name, durable only once the item is flushed;
    // AT_SYMLINK_NOFOLLOW changes no link's target (a link itself gives ENOTSUP).
    virtual int fchmodAt(int dirFd, const char* path, mode_t mode, int flags);
    // fchownat(2); with AT_SYMLINK_NOFOLLOW a link's own owner.
    virtual int fchownAt(int dirFd, const char* path, uid_t owner, gid_t group, int flags);
    // utimensat(2); with AT_SYMLINK_NOFOLLOW a link's own times.
    virtual int utimensAt(int dirFd, const char* path, const struct timespec times[2], int flags);
    // lsetxattr(2) and lremovexattr(2): an item's attributes by path, a final link not followed.
    virtual int lsetxattr(const char* path, const char* name, const void* value, std::size_t size, int flags);
    virtual int lremovexattr(const char* path, const char* name);
    // ioctl(FS_IOC_SETFLAGS): the inode flag word of an open file or folder.
    virtual int setInodeFlags(int fd, int flags);
    // ioctl(FICLONE): the file open for writing as `destinationFd` made to share all the
    // blocks of the one open as `sourceFd` (btrfs, XFS with reflink); durable once flushed.
    // EOPNOTSUPP, EXDEV or EINVAL where the file system can't.
    virtual int cloneFile(int destinationFd, int sourceFd);
};

// The calls in force: the real system unless a test installed another.
FileSystemCalls& calls();

// Installs `replacement` for the lifetime of the object and restores the previous
// calls. For tests; not for use while another thread is inside the core.
class ScopedFileSystemCalls {
public:
    explicit ScopedFileSystemCalls(FileSystemCalls& replacement);
    ~ScopedFileSystemCalls();
    ScopedFileSystemCalls(const ScopedFileSystemCalls&) = delete;
    ScopedFileSystemCalls& operator=(const ScopedFileSystemCalls&) = delete;

private:
    FileSystemCalls* previous_;
};

// Flushes a file's contents and metadata. Throws POSIXFailure("fsync", path) on failure:
// a failed flush is a failed write.
void flushFile(int fd, const std::string& pathForErrors);

// Starts writing a file's dirty pages to the medium without waiting for them, so that a
// later flush of many files finds their writes under way. Makes nothing durable. Throws
// POSIXFailure("sync_file_range") when the write-back fails; where the file system can't
// start it (no such call, not a file that has pages), does nothing.
void startWriteBack(int fd, const std::string& pathForErrors);

// Flushes a folder so that entries created, renamed or removed in it survive a power
// cut. Throws POSIXFailure on failure (opening the folder or fsync).
void flushFolder(const std::string& folder);
void flushFolderAt(int folderFd, const std::string& folderForErrors);

// The same, where nothing is deleted on the strength of the flush: reports instead of throwing.
bool flushFolderBestEffort(const std::string& folder) noexcept;

// Whether fsync(2) on the file system holding `fd` can be trusted to make durable what it
// covers. Not on FAT, exFAT, NTFS or anything under FUSE, whose drivers may flush less
// (a folder's entries, the metadata); nor where the type can't be read.
bool fsyncIsTrusted(int fd);

// Whether the file system holding `fd` keeps each file's mode and owner itself. Not on
// FAT, exFAT or NTFS (kernel or FUSE) nor anything else under FUSE, whose modes come from
// the mount: they take what they can't store silently, and refuse set-ID and sticky bits
// and other owners with EPERM. True where the type can't be read.
bool keepsModesNatively(int fd);

// Whether the file system holding `fd` can give one file several names (hard links). Not
// on FAT, exFAT or NTFS (kernel or FUSE) nor anything else under FUSE. True where the type
// can't be read.
bool keepsHardLinks(int fd);

// Where fsync can't be trusted on the volume that holds `fd`, flushes the whole volume
// (syncfs); elsewhere does nothing, the caller's own flushes being enough. Throws
// POSIXFailure("syncfs").
void syncVolumeIfUntrusted(int fd, const std::string& pathForErrors);

// Flushes everything written on the volume that holds `fd` (syncfs). Throws POSIXFailure("syncfs").
void syncVolume(int fd, const std::string& pathForErrors);
// The same for the volume that holds `folder`; throws POSIXFailure ("open" or "syncfs").
void syncVolume(const std::string& folder);

}  // namespace keldwick::platform
