#include "platform/FileIO.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <sys/xattr.h>
#include <stdio.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <optional>
#include <utility>

#include "platform/FileSystemKinds.h"
#include "platform/POSIXFailure.h"

namespace keldwick::platform {

void Fd::reset(int fd) noexcept {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
}

Fd openReadAt(int at, const char* name, int flags) {
    flags |= O_RDONLY | O_CLOEXEC;
    int fd;
    do {
        fd = ::openat(at, name, flags);
    } while (fd < 0 && errno == EINTR);
    // Only the owner (or a privileged process) may keep the access time unchanged.
    if (fd < 0 && errno == EPERM && (flags & O_NOATIME) != 0) {
        flags &= ~O_NOATIME;
        do {
            fd = ::openat(at, name, flags);
        } while (fd < 0 && errno == EINTR);
    }
    return Fd(fd);
}

Fd openRead(const std::string& path, int flags) { return openReadAt(AT_FDCWD, path.c_str(), flags); }

Fd openDirectory(int at, const std::string& name, int flags) {
    // Listing a folder would set its access time: a scan or a copy must not date it.
    return openReadAt(at, name.c_str(), flags | O_DIRECTORY | O_NOATIME);
}

std::vector<std::string> readNames(Fd folder, const std::string& folderForErrors) {
    if (!folder) throw POSIXFailure("opendir", folderForErrors, errno);
    DIR* dir = ::fdopendir(folder.get());
    if (dir == nullptr) throw POSIXFailure("opendir", folderForErrors, errno);
    folder.release();  // the stream owns it now
    ::rewinddir(dir);  // a duplicate shares an offset an earlier listing moved
    std::vector<std::string> names;
    for (;;) {
        errno = 0;
        const struct dirent* entry = ::readdir(dir);
        if (entry == nullptr) {
            int error = errno;
            ::closedir(dir);
            if (error != 0) throw POSIXFailure("readdir", folderForErrors, error);
            break;
        }
        std::string_view name(entry->d_name);
        if (name == "." || name == "..") continue;
        names.emplace_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

bool readNamesAndKinds(int folderFd, std::vector<std::string>& names, std::vector<bool>& maybeFolder) {
    // getdents64 straight into a large buffer: a scan lists every folder of the home.
    alignas(struct dirent64) char buffer[32768];
    struct Entry {
        ino64_t inode;
        std::string name;
        bool folder;
    };
    std::vector<Entry> entries;
    for (;;) {
        const ssize_t got = ::getdents64(folderFd, buffer, sizeof buffer);
        if (got < 0) return false;
        if (got == 0) break;
        for (ssize_t at = 0; at < got;) {
            const auto* entry = reinterpret_cast<const struct dirent64*>(buffer + at);
            at += entry->d_reclen;
            const char* name = entry->d_name;
            if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'))) continue;
            entries.push_back({entry->d_ino, name, entry->d_type == DT_DIR || entry->d_type == DT_UNKNOWN});
        }
    }
    // ext4 and others list a folder in the order of its names' hashes, which scatters
    // the inodes a walk then reads; by inode number they come as the disk holds them.
    std::stable_sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) { return a.inode < b.inode; });
    names.clear();
    maybeFolder.clear();
    names.reserve(entries.size());
    maybeFolder.reserve(entries.size());
    for (auto& entry : entries) {
        names.push_back(std::move(entry.name));
        maybeFolder.push_back(entry.folder);
    }
    return true;
}

Fd duplicate(int fd) { return Fd(::fcntl(fd, F_DUPFD_CLOEXEC, 0)); }

int closeReporting(Fd& fd) noexcept { return ::close(fd.release()); }

int FileSystemCalls::openAt(int dirFd, const char* path, int flags, mode_t mode) {
    return ::openat(dirFd, path, flags, mode);
}
ssize_t FileSystemCalls::write(int fd, const void* data, std::size_t size) { return ::write(fd, data, size); }
ssize_t FileSystemCalls::pwrite(int fd, const void* data, std::size_t size, off_t offset) {
    return ::pwrite(fd, data, size, offset);
}
int FileSystemCalls::ftruncate(int fd, off_t size) { return ::ftruncate(fd, size); }
int FileSystemCalls::fallocate(int fd, int mode, off_t offset, off_t length) {
    return ::fallocate(fd, mode, offset, length);
}
int FileSystemCalls::fsync(int fd) { return ::fsync(fd); }
int FileSystemCalls::syncfs(int fd) { return ::syncfs(fd); }
int FileSystemCalls::syncFileRange(int fd, off_t offset, off_t count, unsigned flags) {
    return ::sync_file_range(fd, offset, count, flags);
}
int FileSystemCalls::renameAt(int fromDirFd, const char* from, int toDirFd, const char* to, unsigned flags) {
    return ::renameat2(fromDirFd, from, toDirFd, to, flags);
}
int FileSystemCalls::unlinkAt(int dirFd, const char* path, int flags) { return ::unlinkat(dirFd, path, flags); }
int FileSystemCalls::mkdirAt(int dirFd, const char* path, mode_t mode) { return ::mkdirat(dirFd, path, mode); }
int FileSystemCalls::symlinkAt(const char* target, int dirFd, const char* path) {
    return ::symlinkat(target, dirFd, path);
}
int FileSystemCalls::linkAt(int fromDirFd, const char* from, int toDirFd, const char* to, int flags) {
    return ::linkat(fromDirFd, from, toDirFd, to, flags);
}

int FileSystemCalls::fchmod(int fd, mode_t mode) { return ::fchmod(fd, mode); }
int FileSystemCalls::fchown(int fd, uid_t owner, gid_t group) { return ::fchown(fd, owner, group); }
int FileSystemCalls::fstatfs(int fd, struct statfs* into) { return ::fstatfs(fd, into); }
int FileSystemCalls::futimens(int fd, const struct timespec times[2]) { return ::futimens(fd, times); }
int FileSystemCalls::fsetxattr(int fd, const char* name, const void* value, std::size_t size, int flags) {
    return ::fsetxattr(fd, name, value, size, flags);
}

int FileSystemCalls::fchmodAt(int dirFd, const char* path, mode_t mode, int flags) {
    return ::fchmodat(dirFd, path, mode, flags);
}
int FileSystemCalls::fchownAt(int dirFd, const char* path, uid_t owner, gid_t group, int flags) {
    return ::fchownat(dirFd, path, owner, group, flags);
}
int FileSystemCalls::utimensAt(int dirFd, const char* path, const struct timespec times[2], int flags) {
    return ::utimensat(dirFd, path, times, flags);
}
int FileSystemCalls::lsetxattr(const char* path, const char* name, const void* value, std::size_t size, int flags) {
    return ::lsetxattr(path, name, value, size, flags);
}
int FileSystemCalls::lremovexattr(const char* path, const char* name) { return ::lremovexattr(path, name); }
int FileSystemCalls::setInodeFlags(int fd, int flags) { return ::ioctl(fd, FS_IOC_SETFLAGS, &flags); }
int FileSystemCalls::cloneFile(int destinationFd, int sourceFd) { return ::ioctl(destinationFd, FICLONE, sourceFd); }
int FileSystemCalls::flock(int fd, int operation) { return ::flock(fd, operation); }

namespace {
FileSystemCalls realCalls;
std::atomic<FileSystemCalls*> current{&realCalls};
}  // namespace

FileSystemCalls& calls() { return *current.load(std::memory_order_acquire); }

ScopedFileSystemCalls::ScopedFileSystemCalls(FileSystemCalls& replacement)
    : previous_(current.exchange(&replacement, std::memory_order_acq_rel)) {}
ScopedFileSystemCalls::~ScopedFileSystemCalls() { current.store(previous_, std::memory_order_release); }

void flushFile(int fd, const std::string& pathForErrors) {
    if (calls().fsync(fd) != 0) throw POSIXFailure("fsync", pathForErrors, errno);
}

void startWriteBack(int fd, const std::string& pathForErrors) {
    if (calls().syncFileRange(fd, 0, 0, SYNC_FILE_RANGE_WRITE) == 0) return;
    if (errno == EINVAL || errno == ESPIPE || errno == ENOSYS) return;
    throw POSIXFailure("sync_file_range", pathForErrors, errno);
}

void flushFolderAt(int folderFd, const std::string& folderForErrors) {
    if (calls().fsync(folderFd) != 0) throw POSIXFailure("fsync", folderForErrors, errno);
}

void flushFolder(const std::string& folder) {
    Fd fd = openDirectory(AT_FDCWD, folder);
    if (!fd) throw POSIXFailure("open", folder, errno);
    flushFolderAt(fd.get(), folder);
}

bool flushFolderBestEffort(const std::string& folder) noexcept {
    Fd fd = openDirectory(AT_FDCWD, folder);
    return fd && calls().fsync(fd.get()) == 0;
}

namespace {

// The kind of the file system holding `fd`: empty where the type can't be read, null
// where the table doesn't know it.
std::optional<const FileSystemKind*> kindOf(int fd) {
    struct statfs fileSystem {};
    if (calls().fstatfs(fd, &fileSystem) != 0) return std::nullopt;
    return FileSystemKinds::withMagic(static_cast<uint32_t>(fileSystem.f_type));
}

}  // namespace

bool fsyncIsTrusted(int fd) {
    const auto kind = kindOf(fd);
    return kind && (!*kind || (*kind)->fsyncTrusted);
}

bool keepsModesNatively(int fd) {
    const auto kind = kindOf(fd);
    return !kind || !*kind || (*kind)->storesMetadata;
}

// The formats that make up owners and modes have no hard links either.
bool keepsHardLinks(int fd) { return keepsModesNatively(fd); }

void syncVolumeIfUntrusted(int fd, const std::string& pathForErrors) {
    if (!fsyncIsTrusted(fd)) syncVolume(fd, pathForErrors);
}

void syncVolume(int fd, const std::string& pathForErrors) {
    if (calls().syncfs(fd) != 0) throw POSIXFailure("syncfs", pathForErrors, errno);
}

void syncVolume(const std::string& folder) {
    Fd fd = openDirectory(AT_FDCWD, folder);
    if (!fd) throw POSIXFailure("open", folder, errno);
    syncVolume(fd.get(), folder);
}

}  // namespace keldwick::platform
