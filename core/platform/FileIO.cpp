#include "platform/FileIO.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <stdio.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

#include "platform/POSIXFailure.h"

namespace keldwick::platform {

void Fd::reset(int fd) noexcept {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
}

int FileSystemCalls::openAt(int dirFd, const char* path, int flags, mode_t mode) {
    return ::openat(dirFd, path, flags, mode);
}
ssize_t FileSystemCalls::write(int fd, const void* data, std::size_t size) { return ::write(fd, data, size); }
ssize_t FileSystemCalls::pwrite(int fd, const void* data, std::size_t size, off_t offset) {
    return ::pwrite(fd, data, size, offset);
}
int FileSystemCalls::ftruncate(int fd, off_t size) { return ::ftruncate(fd, size); }
int FileSystemCalls::fsync(int fd) { return ::fsync(fd); }
int FileSystemCalls::syncfs(int fd) { return ::syncfs(fd); }
int FileSystemCalls::renameAt(int fromDirFd, const char* from, int toDirFd, const char* to, unsigned flags) {
    return ::renameat2(fromDirFd, from, toDirFd, to, flags);
}
int FileSystemCalls::unlinkAt(int dirFd, const char* path, int flags) { return ::unlinkat(dirFd, path, flags); }
int FileSystemCalls::mkdirAt(int dirFd, const char* path, mode_t mode) { return ::mkdirat(dirFd, path, mode); }
int FileSystemCalls::symlinkAt(const char* target, int dirFd, const char* path) {
    return ::symlinkat(target, dirFd, path);
}

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

void flushFolderAt(int folderFd, const std::string& folderForErrors) {
    if (calls().fsync(folderFd) != 0) throw POSIXFailure("fsync", folderForErrors, errno);
}

void flushFolder(const std::string& folder) {
    Fd fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!fd) throw POSIXFailure("open", folder, errno);
    flushFolderAt(fd.get(), folder);
}

bool flushFolderBestEffort(const std::string& folder) noexcept {
    Fd fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    return fd && calls().fsync(fd.get()) == 0;
}

void syncVolume(int fd, const std::string& pathForErrors) {
    if (calls().syncfs(fd) != 0) throw POSIXFailure("syncfs", pathForErrors, errno);
}

void syncVolume(const std::string& folder) {
    Fd fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!fd) throw POSIXFailure("open", folder, errno);
    syncVolume(fd.get(), folder);
}

}  // namespace keldwick::platform
