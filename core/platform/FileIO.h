#pragma once
// The one door through which the core changes the file system. Every call that
// writes, flushes, renames, links, creates or deletes goes through `calls()`, so a
// test can fail any one of them or play out a power cut that drops whatever was not
// yet flushed. Reads and metadata queries go to the system directly.

#include <sys/types.h>

#include <cstddef>
#include <string>

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
    // fsync(2) of a file or of a folder (which makes its entries durable).
    virtual int fsync(int fd);
    // syncfs(2): everything on the volume holding `fd`.
    virtual int syncfs(int fd);
    // renameat2(2); `flags` 0, RENAME_NOREPLACE or RENAME_EXCHANGE.
    virtual int renameAt(int fromDirFd, const char* from, int toDirFd, const char* to, unsigned flags);
    // unlinkat(2); AT_REMOVEDIR removes an empty folder.
    virtual int unlinkAt(int dirFd, const char* path, int flags);
    virtual int mkdirAt(int dirFd, const char* path, mode_t mode);
    virtual int symlinkAt(const char* target, int dirFd, const char* path);
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

// Flushes a folder so that entries created, renamed or removed in it survive a power
// cut. Throws POSIXFailure on failure (opening the folder or fsync).
void flushFolder(const std::string& folder);
void flushFolderAt(int folderFd, const std::string& folderForErrors);

// The same, where nothing is deleted on the strength of the flush: reports instead of throwing.
bool flushFolderBestEffort(const std::string& folder) noexcept;

// Flushes everything written on the volume that holds `fd` (syncfs). Throws POSIXFailure("syncfs").
void syncVolume(int fd, const std::string& pathForErrors);
// The same for the volume that holds `folder`; throws POSIXFailure ("open" or "syncfs").
void syncVolume(const std::string& folder);

}  // namespace keldwick::platform
