#include "support/PowerCutSimulator.h"

#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <limits.h>
#include <linux/fs.h>
#include <sqlite3.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <exception>

namespace keldwick::test {
namespace {

using platform::Fd;

// Everything below the simulator's own bookkeeping uses the system directly: during a
// cut the simulator is still the layer in force, and the power is off.

std::optional<struct stat> statAt(int dirFd, const std::string& name) {
    struct stat status {};
    if (::fstatat(dirFd, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) return std::nullopt;
    return status;
}

std::string readAll(int fd) {
    std::string bytes;
    char buffer[65536];
    off_t offset = 0;
    for (;;) {
        ssize_t n = ::pread(fd, buffer, sizeof buffer, offset);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) ADD_FAILURE() << "power-cut simulator: can't read a file to keep its bytes: errno " << errno;
        if (n <= 0) return bytes;
        bytes.append(buffer, static_cast<size_t>(n));
        offset += n;
    }
}

bool replaceAll(int fd, const std::string& bytes) {
    if (::lseek(fd, 0, SEEK_SET) < 0 || ::ftruncate(fd, 0) != 0) return false;
    for (size_t done = 0; done < bytes.size();) {
        ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

// Removes the entry, a folder with everything in it, by descriptors and without following links.
void removeEntry(int dirFd, const std::string& name) {
    auto status = statAt(dirFd, name);
    if (!status) return;
    if (S_ISDIR(status->st_mode)) {
        int fd = ::openat(dirFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd >= 0) {
            Fd inner(::fcntl(fd, F_DUPFD_CLOEXEC, 0));
            if (DIR* listing = ::fdopendir(fd)) {
                std::vector<std::string> names;
                while (dirent* entry = ::readdir(listing))
                    if (std::string(entry->d_name) != "." && std::string(entry->d_name) != "..")
                        names.push_back(entry->d_name);
                ::closedir(listing);
                for (const auto& child : names) removeEntry(inner.get(), child);
            } else {
                ::close(fd);
            }
        }
        ::unlinkat(dirFd, name.c_str(), AT_REMOVEDIR);
    } else {
        ::unlinkat(dirFd, name.c_str(), 0);
    }
}

int failWithEIO() {
    errno = EIO;
    return -1;
}

Fd duplicate(int fd) { return Fd(::fcntl(fd, F_DUPFD_CLOEXEC, 0)); }

// Keeps errno across the bookkeeping that follows a real call.
class SavedErrno {
public:
    SavedErrno() : saved_(errno) {}
    ~SavedErrno() { errno = saved_; }

private:
    int saved_;
};

}  // namespace

PowerCutSimulator::PowerCutSimulator(std::vector<std::string> volumeRoots, std::string keepFolder)
    : keepFolder_(std::move(keepFolder)) {
    for (auto& root : volumeRoots) {
        char resolved[PATH_MAX];
        roots_.push_back(::realpath(root.c_str(), resolved) ? std::string(resolved) : root);
    }
    ::mkdir(keepFolder_.c_str(), 0700);
    keep_ = Fd(::open(keepFolder_.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!keep_) ADD_FAILURE() << "power-cut simulator: can't open " << keepFolder_;
}

PowerCutSimulator::~PowerCutSimulator() {
    if (journal_) sqlite3_commit_hook(journal_->db().handle(), nullptr, nullptr);
    forgetKept();
}

void PowerCutSimulator::watch(std::shared_ptr<Journal> journal) {
    std::lock_guard guard(lock_);
    if (journal_) sqlite3_commit_hook(journal_->db().handle(), nullptr, nullptr);
    journal_ = std::move(journal);
    sqlite3_commit_hook(journal_->db().handle(), &PowerCutSimulator::commitHook, this);
}

int PowerCutSimulator::commitHook(void* self) {
    auto& simulator = *static_cast<PowerCutSimulator*>(self);
    std::lock_guard guard(simulator.lock_);
    if (simulator.off_) return 1;
    return simulator.reachEvent() ? 1 : 0;  // non-zero turns the commit into a rollback
}

void PowerCutSimulator::cutAt(int event) {
    std::lock_guard guard(lock_);
    cutAt_ = event;
}

int PowerCutSimulator::events() const {
    std::lock_guard guard(lock_);
    return events_;
}

bool PowerCutSimulator::isOff() const {
    std::lock_guard guard(lock_);
    return off_;
}

bool PowerCutSimulator::reachEvent() {
    ++events_;
    if (cutAt_ != 0 && events_ == cutAt_) off_ = true;
    return off_;
}

int PowerCutSimulator::powerGone() const {
    // A destructor cleaning up while a cut unwinds must not throw again.
    if (std::uncaught_exceptions() > 0) return failWithEIO();
    throw PowerCut{cutAt_};
}

// MARK: Where things are

std::string PowerCutSimulator::pathOf(int fd) const {
    char buffer[PATH_MAX];
    const std::string link = "/proc/self/fd/" + std::to_string(fd);
    ssize_t n = ::readlink(link.c_str(), buffer, sizeof buffer);
    return n > 0 ? std::string(buffer, static_cast<size_t>(n)) : std::string();
}

std::string PowerCutSimulator::volumeOf(const std::string& path, dev_t device) const {
    std::string best;
    for (const auto& root : roots_)
        if ((path == root || path.starts_with(root + "/")) && root.size() > best.size()) best = root;
    return best.empty() ? "device " + std::to_string(device) : best;
}

std::shared_ptr<PowerCutSimulator::Folder> PowerCutSimulator::folderAt(Fd handle) {
    struct stat status {};
    if (!handle || ::fstat(handle.get(), &status) != 0) return nullptr;
    const Inode inode{status.st_dev, status.st_ino};
    if (auto found = folders_.find(inode); found != folders_.end()) return found->second;
    auto folder = std::make_shared<Folder>();
    folder->inode = inode;
    folder->volume = volumeOf(pathOf(handle.get()), status.st_dev);
    folder->handle = std::move(handle);
    folders_[inode] = folder;
    return folder;
}

std::shared_ptr<PowerCutSimulator::Folder> PowerCutSimulator::folderOf(int dirFd, const std::string& path,
                                                                       std::string& name) {
    std::string trimmed = path;
    while (trimmed.size() > 1 && trimmed.back() == '/') trimmed.pop_back();
    const auto slash = trimmed.rfind('/');
    const std::string parent = slash == std::string::npos ? "." : slash == 0 ? "/" : trimmed.substr(0, slash);
    name = slash == std::string::npos ? trimmed : trimmed.substr(slash + 1);
    return folderAt(Fd(::openat(dirFd, parent.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC)));
}

std::optional<PowerCutSimulator::Displaced> PowerCutSimulator::displace(const std::shared_ptr<Folder>& folder,
                                                                        const std::string& name) {
    if (!folder) return std::nullopt;
    auto status = statAt(folder->handle.get(), name);
    if (!status) return std::nullopt;
    Displaced displaced;
    displaced.inode = {status->st_dev, status->st_ino};
    displaced.folder = S_ISDIR(status->st_mode);
    displaced.mode = status->st_mode & 07777;
    if (displaced.folder) {
        if (auto found = folders_.find(displaced.inode); found != folders_.end()) displaced.asFolder = found->second;
        return displaced;
    }
    displaced.kept = std::to_string(++keptCount_);
    if (::linkat(folder->handle.get(), name.c_str(), keep_.get(), displaced.kept.c_str(), 0) != 0)
        ADD_FAILURE() << "power-cut simulator: can't keep " << name << " in " << keepFolder_ << ": errno " << errno;
    else
        keptNames_.push_back(displaced.kept);
    return displaced;
}

void PowerCutSimulator::noteBytesChange(int fd) {
    struct stat status {};
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) return;
    const Inode inode{status.st_dev, status.st_ino};
    if (snapshots_.count(inode)) return;
    Snapshot snapshot;
    Fd reader(::open(("/proc/self/fd/" + std::to_string(fd)).c_str(), O_RDONLY | O_CLOEXEC));
    if (reader) snapshot.bytes = readAll(reader.get());
    else ADD_FAILURE() << "power-cut simulator: can't reopen a file to keep its bytes: errno " << errno;
    snapshot.writer = duplicate(fd);
    snapshot.volume = volumeOf(pathOf(fd), status.st_dev);
    snapshots_.emplace(inode, std::move(snapshot));
}

// The open item itself by path: works for O_PATH descriptors too, which most calls refuse.
std::string procPath(int fd) { return "/proc/self/fd/" + std::to_string(fd); }

// Every extended attribute of an open file or folder, by name.
std::map<std::string, std::string> attributesOf(int fd) {
    std::map<std::string, std::string> attributes;
    const std::string item = procPath(fd);
    std::string names(65536, '\0');
    const ssize_t length = ::listxattr(item.c_str(), names.data(), names.size());
    if (length < 0) return attributes;
    names.resize(static_cast<size_t>(length));
    for (size_t start = 0; start < names.size();) {
        const std::string name = names.c_str() + start;
        start += name.size() + 1;
        std::string value(65536, '\0');
        const ssize_t size = ::getxattr(item.c_str(), name.c_str(), value.data(), value.size());
        if (size < 0) continue;
        value.resize(static_cast<size_t>(size));
        attributes[name] = value;
    }
    return attributes;
}

// The inode flag word (immutable, append-only...), read through a descriptor of its own
// since an O_PATH one takes no ioctl; nothing where the file system keeps none.
std::optional<int> inodeFlagsOf(int fd) {
    Fd opened(::open(procPath(fd).c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    int flags = 0;
    if (!opened || ::ioctl(opened.get(), FS_IOC_GETFLAGS, &flags) != 0) return std::nullopt;
    return flags;
}

bool setInodeFlagsOf(int fd, int flags) {
    Fd opened(::open(procPath(fd).c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    int now = 0;
    if (!opened || ::ioctl(opened.get(), FS_IOC_GETFLAGS, &now) != 0) return false;
    return now == flags || ::ioctl(opened.get(), FS_IOC_SETFLAGS, &flags) == 0;
}

constexpr int kLockFlags = FS_IMMUTABLE_FL | FS_APPEND_FL;

void PowerCutSimulator::noteMetadataChange(int fd) {
    struct stat status {};
    if (::fstat(fd, &status) != 0 || !(S_ISREG(status.st_mode) || S_ISDIR(status.st_mode))) return;
    const Inode inode{status.st_dev, status.st_ino};
    if (metadata_.count(inode)) return;
    Metadata metadata;
    metadata.mode = status.st_mode & 07777;
    metadata.owner = status.st_uid;
    metadata.group = status.st_gid;
    metadata.times[0] = status.st_atim;
    metadata.times[1] = status.st_mtim;
    metadata.attributes = attributesOf(fd);
    metadata.inodeFlags = inodeFlagsOf(fd);
    metadata.handle = duplicate(fd);
    metadata.volume = volumeOf(pathOf(fd), status.st_dev);
    metadata_.emplace(inode, std::move(metadata));
}

void PowerCutSimulator::noteMetadataChangeAt(int dirFd, const char* path, bool noFollow) {
    const Fd item(::openat(dirFd, path, O_PATH | O_CLOEXEC | (noFollow ? O_NOFOLLOW : 0)));
    if (item) noteMetadataChange(item.get());
}

void PowerCutSimulator::putBackMetadata(const Metadata& metadata) {
    const std::string item = procPath(metadata.handle.get());
    const auto now = attributesOf(metadata.handle.get());
    for (const auto& [name, value] : now)
        if (!metadata.attributes.count(name)) ::removexattr(item.c_str(), name.c_str());
    for (const auto& [name, value] : metadata.attributes)
        if (!now.count(name) || now.at(name) != value)
            ::setxattr(item.c_str(), name.c_str(), value.data(), value.size(), 0);
    struct stat status {};
    const bool ownerChanged = ::stat(item.c_str(), &status) == 0 &&
                              (status.st_uid != metadata.owner || status.st_gid != metadata.group);
    // A change of owner clears set-ID bits: the mode goes back after it.
    if ((ownerChanged && ::chown(item.c_str(), metadata.owner, metadata.group) != 0) ||
        ::chmod(item.c_str(), metadata.mode) != 0 || ::utimensat(AT_FDCWD, item.c_str(), metadata.times, 0) != 0 ||
        (metadata.inodeFlags && !setInodeFlagsOf(metadata.handle.get(), *metadata.inodeFlags)))
        ADD_FAILURE() << "power-cut simulator: can't put an item's flushed metadata back: errno " << errno;
}

// MARK: The calls

int PowerCutSimulator::openAt(int dirFd, const char* path, int flags, mode_t mode) {
    std::lock_guard guard(lock_);
    if (off_) return powerGone();
    const bool writes = (flags & O_ACCMODE) != O_RDONLY;
    std::shared_ptr<Folder> folder;
    std::string name;
    bool existed = true;
    std::optional<std::string> before;  // the bytes a truncating open drops
    if (flags & O_CREAT) {
        folder = folderOf(dirFd, path, name);
        existed = !folder || statAt(folder->handle.get(), name);
    }
    if (existed && writes && (flags & O_TRUNC)) {
        Fd reader(::openat(dirFd, path, O_RDONLY | O_CLOEXEC | (flags & O_NOFOLLOW)));
        struct stat status {};
        if (reader && ::fstat(reader.get(), &status) == 0 && S_ISREG(status.st_mode) &&
            !snapshots_.count({status.st_dev, status.st_ino}))
            before = readAll(reader.get());
    }
    const int fd = FileSystemCalls::openAt(dirFd, path, flags, mode);
    if (fd < 0) return fd;
    SavedErrno saved;
    struct stat status {};
    if (::fstat(fd, &status) != 0) return fd;
    const Inode inode{status.st_dev, status.st_ino};
    if (!existed) changes_.push_back({Change::Kind::created, folder, name, nullptr, "", inode, std::nullopt});
    if (writes && S_ISREG(status.st_mode) && !snapshots_.count(inode) && (!existed || before))
        snapshots_.emplace(inode, Snapshot{before.value_or(""), duplicate(fd), volumeOf(pathOf(fd), status.st_dev)});
    return fd;
}

ssize_t PowerCutSimulator::write(int fd, const void* data, std::size_t size) {
    std::lock_guard guard(lock_);
    if (off_) return powerGone();
    noteBytesChange(fd);
    return FileSystemCalls::write(fd, data, size);
}

ssize_t PowerCutSimulator::pwrite(int fd, const void* data, std::size_t size, off_t offset) {
    std::lock_guard guard(lock_);
    if (off_) return powerGone();
    noteBytesChange(fd);
    return FileSystemCalls::pwrite(fd, data, size, offset);
}

int PowerCutSimulator::ftruncate(int fd, off_t size) {
    std::lock_guard guard(lock_);
    if (off_) return powerGone();
    noteBytesChange(fd);
    return FileSystemCalls::ftruncate(fd, size);
}

int PowerCutSimulator::fallocate(int fd, int mode, off_t offset, off_t length) {
    std::lock_guard guard(lock_);
    if (off_) return powerGone();
    noteBytesChange(fd);
    return FileSystemCalls::fallocate(fd, mode, offset, length);
}

int PowerCutSimulator::fsync(int fd) {
    std::lock_guard guard(lock_);
    if (off_) return powerGone();
    if (reachEvent()) return failWithEIO();
    const int result = FileSystemCalls::fsync(fd);
    if (result != 0) return result;
    struct stat status {};
    if (::fstat(fd, &status) != 0) return result;
    const Inode inode{status.st_dev, status.st_ino};
    metadata_.erase(inode);
    if (!S_ISDIR(status.st_mode)) {
        snapshots_.erase(inode);
        return result;
    }
    for (auto& change : changes_) {
        switch (change.kind) {
            case Change::Kind::created:
            case Change::Kind::removed:
                change.durable = change.durable || change.folder->inode == inode;
                break;
            case Change::Kind::renamed:
                change.durable = change.durable || change.toFolder->inode == inode;
                break;
            case Change::Kind::exchanged:
                change.durable = change.durable || change.folder->inode == inode || change.toFolder->inode == inode;
                break;
        }
    }
    return result;
}

int PowerCutSimulator::syncfs(int fd) {
    std::lock_guard guard(lock_);
    if (off_) return powerGone();
    if (reachEvent()) return failWithEIO();
    const int result = FileSystemCalls::syncfs(fd);
    if (result != 0) return result;
    struct stat status {};
    if (::fstat(fd, &status) != 0) return result;
    const std::string volume = volumeOf(pathOf(fd), status.st_dev);
    for (auto& change : changes_) {
        const auto& folder = change.toFolder ? change.toFolder : change.folder;
        change.durable = change.durable || folder->volume == volume;
    }
    std::erase_if(snapshots_, [&](const auto& entry) { return entry.second.volume == volume; });
    std::erase_if(metadata_, [&](const auto& entry) { return entry.second.volume == volume; });
    return result;
}

int PowerCutSimulator::syncFileRange(int fd, off_t offset, off_t count, unsigned flags) {
    std::lock_guard guard(lock_);
    if (off_) return powerGone();
    return FileSystemCalls::syncFileRange(fd, offset, count, flags);
}

int PowerCutSimulator::fchmod(int fd, mode_t mode) {
    std::lock_guard guard(lock_);
    if (off_) return powerGone();
    noteMetadataChange(fd);
    return FileSystemCalls::fchmod(fd, mode);
}

int PowerCutSimulator::futimens(int fd, const struct timespec times[2]) {
    std::lock_guard guard(lock_);
    if (off_) return powerGone();
    noteMetadataChange(fd);
    return FileSystemCalls::futimens(fd, times);
}

int PowerCutSimulator::fsetxattr(int fd, const char* name, const void* value, std::size_t size, int flags) {
    std::lock_guard guard(lock_);
    if (off_) return powerGone();
    noteMetadataChange(fd);
    return FileSystemCalls::fsetxattr(fd, name, value, size, flags);
}

int PowerCutSimulator::flock(int fd, int operation) {
    if ((operation & LOCK_UN) == 0) {
        std::lock_guard guard(lock_);
        if (off_) return powerGone();
    }
    // Not under the simulator's lock: waiting for another holder must not stop its calls.
    return FileSystemCalls::flock(fd, operation);
}

int PowerCutSimulator::fchown(int fd, uid_t owner, gid_t group) {
    std::lock_guard guard(lock_);
    if (off_) return powerGone();
    noteMetadataChange(fd);
    return FileSystemCalls::fchown(fd, owner, group);
}

int PowerCutSimulator::fchmodAt(int dirFd, const char* path, mode_t mode, int flags) {
    std::lock_guard guard(lock_);
    if (off_) return powerGone();
    noteMetadataChangeAt(dirFd, path, flags & AT_SYMLINK_NOFOLLOW);
    return FileSystemCalls::fchmodAt(dirFd, path, mode, flags);
}

int PowerCutSimulator::fchownAt(int dirFd, const char* path, uid_t owner, gid_t group, int flags) {
    std::lock_guard guard(lock_);
    if (off_) return powerGone();
    noteMetadataChangeAt(dirFd, path, flags & AT_SYMLINK_NOFOLLOW);
    return FileSystemCalls::fchownAt(dirFd, path, owner, group, flags);
}

int PowerCutSimulator::utimensAt(int dirFd, const char* path, const struct timespec times[2], int flags) {
    std::lock_guard guard(lock_);
    if (off_) return powerGone();
    if (path) noteMetadataChangeAt(dirFd, path, flags & AT_SYMLINK_NOFOLLOW);
    else noteMetadataChange(dirFd);
    return FileSystemCalls::utimensAt(dirFd, path, times, flags);
}

int PowerCutSimulator::lsetxattr(const char* path, const char* name, const void* value, std::size_t size,
                                 int flags) {
    std::lock_guard guard(lock_);
    if (off_) return powerGone();
    noteMetadataChangeAt(AT_FDCWD, path, true);
    return FileSystemCalls::lsetxattr(path, name, value, size, flags);
}

int PowerCutSimulator::lremovexattr(const char* path, const char* name) {
    std::lock_guard guard(lock_);
    if (off_) return powerGone();
    noteMetadataChangeAt(AT_FDCWD, path, true);
    return FileSystemCalls::lremovexattr(path, name);
}

int PowerCutSimulator::setInodeFlags(int fd, int flags) {
    std::lock_guard guard(lock_);
    if (off_) return powerGone();
    noteMetadataChange(fd);
    return FileSystemCalls::setInodeFlags(fd, flags);
}

int PowerCutSimulator::renameAt(int fromDirFd, const char* from, int toDirFd, const char* to, unsigned flags) {
    std::lock_guard guard(lock_);
    if (off_) return powerGone();
    std::string name, toName;
    auto folder = folderOf(fromDirFd, from, name);
    auto toFolder = folderOf(toDirFd, to, toName);
    std::optional<struct stat> moved = folder ? statAt(folder->handle.get(), name) : std::nullopt;
    const bool exchange = flags & RENAME_EXCHANGE;
    const bool sameEntry = folder && toFolder && folder == toFolder && name == toName;
    std::optional<Displaced> displaced;
    if (moved && toFolder && !sameEntry) {
        if (exchange) {
            if (auto other = statAt(toFolder->handle.get(), toName))
                displaced = Displaced{{other->st_dev, other->st_ino}, S_ISDIR(other->st_mode), 0, "", nullptr};
        } else if (!(flags & RENAME_NOREPLACE)) {
            displaced = displace(toFolder, toName);
        }
    }
    const int result = FileSystemCalls::renameAt(fromDirFd, from, toDirFd, to, flags);
    SavedErrno saved;
    if (result != 0 || !moved || !toFolder || sameEntry) return result;
    changes_.push_back({exchange ? Change::Kind::exchanged : Change::Kind::renamed, folder, name, toFolder, toName,
                        Inode{moved->st_dev, moved->st_ino}, displaced});
    return result;
}

int PowerCutSimulator::unlinkAt(int dirFd, const char* path, int flags) {
    std::lock_guard guard(lock_);
    if (off_) return powerGone();
    std::string name;
    auto folder = folderOf(dirFd, path, name);
    auto displaced = displace(folder, name);
    const int result = FileSystemCalls::unlinkAt(dirFd, path, flags);
    SavedErrno saved;
    if (result != 0 || !displaced) return result;
    changes_.push_back({Change::Kind::removed, folder, name, nullptr, "", displaced->inode, displaced});
    return result;
}

void PowerCutSimulator::recordCreated(int dirFd, const char* path) {
    std::string name;
    auto folder = folderOf(dirFd, path, name);
    if (auto status = folder ? statAt(folder->handle.get(), name) : std::nullopt)
        changes_.push_back({Change::Kind::created, folder, name, nullptr, "", {status->st_dev, status->st_ino},
                            std::nullopt});
}

int PowerCutSimulator::mkdirAt(int dirFd, const char* path, mode_t mode) {
    std::lock_guard guard(lock_);
    if (off_) return powerGone();
    const int result = FileSystemCalls::mkdirAt(dirFd, path, mode);
    SavedErrno saved;
    if (result != 0) return result;
    recordCreated(dirFd, path);
    return result;
}

int PowerCutSimulator::symlinkAt(const char* target, int dirFd, const char* path) {
    std::lock_guard guard(lock_);
    if (off_) return powerGone();
    const int result = FileSystemCalls::symlinkAt(target, dirFd, path);
    SavedErrno saved;
    if (result != 0) return result;
    recordCreated(dirFd, path);
    return result;
}

// A new name for a file is an entry like any other: undone unless its folder was flushed.
int PowerCutSimulator::linkAt(int fromDirFd, const char* from, int toDirFd, const char* to, int flags) {
    std::lock_guard guard(lock_);
    if (off_) return powerGone();
    const int result = FileSystemCalls::linkAt(fromDirFd, from, toDirFd, to, flags);
    SavedErrno saved;
    if (result != 0) return result;
    recordCreated(toDirFd, to);
    return result;
}

// MARK: The cut

bool PowerCutSimulator::holds(const Folder& folder, const std::string& name, Inode inode) const {
    if (auto found = renumbered_.find(inode); found != renumbered_.end()) inode = found->second;
    auto status = statAt(folder.handle.get(), name);
    return status && Inode{status->st_dev, status->st_ino} == inode;
}

void PowerCutSimulator::putBack(const Folder& folder, const std::string& name, const Displaced& displaced) {
    if (statAt(folder.handle.get(), name)) return;
    if (!displaced.folder) {
        ::linkat(keep_.get(), displaced.kept.c_str(), folder.handle.get(), name.c_str(), 0);
        return;
    }
    // A removed folder comes back as a new one; changes made inside the old one are undone
    // in the new one.
    if (::mkdirat(folder.handle.get(), name.c_str(), displaced.mode) != 0) return;
    auto status = statAt(folder.handle.get(), name);
    if (!status) return;
    renumbered_[displaced.inode] = {status->st_dev, status->st_ino};
    if (displaced.asFolder)
        displaced.asFolder->handle =
            Fd(::openat(folder.handle.get(), name.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
}

void PowerCutSimulator::undo(const Change& change) {
    // Undoing fails only where a durable change took the place away (its folder removed,
    // or its name taken): then what the undone change made is orphaned, and goes.
    const Folder& folder = *change.folder;
    switch (change.kind) {
        case Change::Kind::created:
            if (holds(folder, change.name, change.inode)) removeEntry(folder.handle.get(), change.name);
            break;
        case Change::Kind::removed:
            putBack(folder, change.name, *change.displaced);
            break;
        case Change::Kind::renamed: {
            const Folder& to = *change.toFolder;
            if (holds(to, change.toName, change.inode) &&
                ::renameat2(to.handle.get(), change.toName.c_str(), folder.handle.get(), change.name.c_str(),
                            RENAME_NOREPLACE) != 0)
                removeEntry(to.handle.get(), change.toName);
            if (change.displaced) putBack(to, change.toName, *change.displaced);
            break;
        }
        case Change::Kind::exchanged: {
            const Folder& to = *change.toFolder;
            if (change.displaced && holds(to, change.toName, change.inode) &&
                holds(folder, change.name, change.displaced->inode))
                ::renameat2(folder.handle.get(), change.name.c_str(), to.handle.get(), change.toName.c_str(),
                            RENAME_EXCHANGE);
            break;
        }
    }
}

void PowerCutSimulator::cutPower() {
    std::lock_guard guard(lock_);
    off_ = true;
    // An item made immutable or append-only since its flush would refuse what follows:
    // its flushed flags come back last, with the rest of its metadata.
    for (const auto& [inode, metadata] : metadata_)
        if (auto now = inodeFlagsOf(metadata.handle.get()); now && (*now & kLockFlags))
            setInodeFlagsOf(metadata.handle.get(), *now & ~kLockFlags);
    for (auto& [inode, snapshot] : snapshots_)
        if (!snapshot.writer || !replaceAll(snapshot.writer.get(), snapshot.bytes))
            ADD_FAILURE() << "power-cut simulator: can't put a file's flushed bytes back: errno " << errno;
    for (auto change = changes_.rbegin(); change != changes_.rend(); ++change)
        if (!change->durable) undo(*change);
    // Last: putting bytes back and undoing entries moved the dates.
    for (const auto& [inode, metadata] : metadata_) putBackMetadata(metadata);
    metadata_.clear();
    snapshots_.clear();
    changes_.clear();
    folders_.clear();
    renumbered_.clear();
    forgetKept();
    events_ = 0;
    cutAt_ = 0;
    off_ = false;
}

void PowerCutSimulator::forgetKept() {
    for (const auto& name : keptNames_) ::unlinkat(keep_.get(), name.c_str(), 0);
    keptNames_.clear();
}

}  // namespace keldwick::test
