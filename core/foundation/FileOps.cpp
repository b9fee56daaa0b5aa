#include "foundation/FileOps.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <limits>

#include "foundation/FileStat.h"
#include "foundation/PathUtil.h"
#include "foundation/Utf8.h"
#include "platform/Acl.h"
#include "platform/FileIO.h"
#include "platform/FileStatus.h"
#include "platform/InodeFlags.h"
#include "platform/POSIXFailure.h"
#include "platform/Rename.h"
#include "platform/Statx.h"

namespace keldwick {

namespace {

constexpr const char* kTemporaryMarker = ".keldwick-";
constexpr size_t kTemporaryNameBytes = 180;
constexpr TemporaryKind kAllKinds[] = {TemporaryKind::partial, TemporaryKind::link, TemporaryKind::trash,
                                       TemporaryKind::restore};

}  // namespace

std::vector<std::string> listDirectoryAt(int fd, const std::string& folder) {
    return platform::readNames(platform::duplicate(fd), folder);
}

namespace {

// What a removal may leave: nothing, or the special files (sockets, FIFOs, device nodes)
// and the folders that hold them.
enum class Keeping { nothing, specialFiles };

bool isSpecialFile(mode_t mode) { return S_ISSOCK(mode) || S_ISFIFO(mode) || S_ISCHR(mode) || S_ISBLK(mode); }

bool removeEntry(int dirfd, const char* name, const std::string& path, Keeping keeping);

// Removes everything inside the folder open as `fd`, entry by entry through the
// descriptor, so that renaming a folder above or swapping one for a link mid-walk can't
// send the removal anywhere else. True when nothing was kept.
bool removeContents(int fd, const std::string& path, Keeping keeping) {
    bool all = true;
    for (const std::string& name : listDirectoryAt(fd, path)) {
        if (!removeEntry(fd, name.c_str(), PathUtil::join(path, name), keeping)) all = false;
    }
    return all;
}

// True when the entry is gone; false only for what `keeping` keeps.
bool removeEntry(int dirfd, const char* name, const std::string& path, Keeping keeping) {
    struct statx record;
    int error = platform::statxNoFollow(dirfd, name, record);
    if (error == ENOENT || error == ENOTDIR) return true;  // nothing there (any more)
    if (error != 0) throw POSIXFailure("lstat", path, error);
    if (keeping == Keeping::specialFiles && isSpecialFile(record.stx_mode)) return false;

    if (platform::portableFlags(record) != 0) platform::changeLockBits(dirfd, name, 0, platform::kLockMask);

    if (S_ISDIR(record.stx_mode)) {
        // Another file system mounted here: its contents are not ours to remove.
        if (platform::isMountRoot(record)) throw POSIXFailure("rmdir", path, EBUSY);
        // glibc does a no-follow chmod through an O_PATH descriptor; a link gets ENOTSUP.
        platform::calls().fchmodAt(dirfd, name, 0700, AT_SYMLINK_NOFOLLOW);
        platform::resetAcl(dirfd, name, true);
        bool all = true;
        {
            platform::Fd folder = platform::openDirectory(dirfd, name, O_NOFOLLOW);
            if (!folder) {
                if (errno == ENOENT) return true;
                throw POSIXFailure("opendir", path, errno);
            }
            struct stat opened;
            if (platform::statusOf(folder.get(), opened) != 0) throw POSIXFailure("opendir", path, errno);
            if (opened.st_ino != record.stx_ino ||
                opened.st_dev != platform::deviceNumber(record.stx_dev_major, record.stx_dev_minor)) {
                // Replaced between the look and the open: don't guess what to remove.
                throw POSIXFailure("opendir", path, EAGAIN);
            }
            all = removeContents(folder.get(), path, keeping);
        }
        // A folder that keeps something stays, with what it keeps.
        if (!all) return false;
        if (platform::calls().unlinkAt(dirfd, name, AT_REMOVEDIR) != 0 && errno != ENOENT) throw POSIXFailure("rmdir", path, errno);
        return true;
    }

    if (platform::calls().unlinkAt(dirfd, name, 0) == 0 || errno == ENOENT) return true;
    error = errno;
    if (error == EPERM || error == EACCES) {
        platform::resetAcl(dirfd, name, false);
        if (platform::calls().unlinkAt(dirfd, name, 0) == 0 || errno == ENOENT) return true;
        error = errno;
    }
    throw POSIXFailure("unlink", path, error);
}

}  // namespace

namespace PathUtil {

void removeTree(const std::string& path) {
    // "link/" would resolve the link; the item to remove is the link itself.
    std::string item = PathUtil::withoutTrailingSlashes(path);
    if (item.empty()) return;
    removeEntry(AT_FDCWD, item.c_str(), item, Keeping::nothing);
}

bool removeTreeKeepingSpecialFiles(const std::string& path) {
    std::string item = PathUtil::withoutTrailingSlashes(path);
    if (item.empty()) return true;
    return removeEntry(AT_FDCWD, item.c_str(), item, Keeping::specialFiles);
}

}  // namespace PathUtil

const char* toString(TemporaryKind kind) {
    switch (kind) {
        case TemporaryKind::partial: return "partial";
        case TemporaryKind::link: return "link";
        case TemporaryKind::trash: return "trash";
        case TemporaryKind::restore: return "restore";
    }
    return "partial";
}

std::vector<std::string> listDirectory(const std::string& folder) {
    return platform::readNames(platform::openDirectory(AT_FDCWD, folder), folder);
}

void collectRelativePaths(const std::string& relative, const std::string& root, std::vector<std::string>& into) {
    std::string folder = relative.empty() ? root : PathUtil::join(root, relative);
    std::vector<std::string> names;
    try {
        names = listDirectory(folder);
    } catch (const POSIXFailure&) {
        return;  // an unreadable folder counts as empty here
    }
    for (const std::string& name : names) {
        std::string childRelative = relative.empty() ? name : relative + "/" + name;
        into.push_back(childRelative);
        struct statx record;
        std::string full = PathUtil::join(root, childRelative);
        if (platform::statxNoFollow(AT_FDCWD, full.c_str(), record) == 0 && S_ISDIR(record.stx_mode)) {
            collectRelativePaths(childRelative, root, into);
        }
    }
}

std::string firstExistingPath(const std::vector<std::string>& names, const std::string& folder) {
    std::string first;
    for (size_t i = 0; i < names.size(); ++i) {
        std::string candidate = names[i].empty() ? folder : PathUtil::join(folder, names[i]);
        struct stat st {};
        if (platform::statusNoFollow(candidate, st) == 0) return candidate;
        if (i == 0) first = std::move(candidate);
    }
    return first;
}

void createDirectory(const std::string& path) {
    auto isFolder = [](const std::string& p) {
        struct stat st;
        return platform::statusFollowing(p, st) == 0 && S_ISDIR(st.st_mode);
    };
    if (path.empty()) throw POSIXFailure("mkdir", path, ENOENT);
    if (platform::calls().mkdirAt(AT_FDCWD, path.c_str(), 0777) == 0) return;
    int error = errno;
    if (error == EEXIST) {
        if (isFolder(path)) return;
        throw POSIXFailure("mkdir", path, EEXIST);
    }
    if (error != ENOENT) throw POSIXFailure("mkdir", path, error);
    std::string above = PathUtil::parent(path);
    if (above.empty() || above == PathUtil::withoutTrailingSlashes(path)) throw POSIXFailure("mkdir", path, error);
    createDirectory(above);
    if (platform::calls().mkdirAt(AT_FDCWD, path.c_str(), 0777) == 0) return;
    error = errno;
    if (error == EEXIST && isFolder(path)) return;  // made meanwhile by someone else
    throw POSIXFailure("mkdir", path, error);
}

void createDirectoryDurably(const std::string& path) {
    auto isFolder = [](const std::string& p) {
        struct stat st;
        return platform::statusFollowing(p, st) == 0 && S_ISDIR(st.st_mode);
    };
    // The folders missing, deepest first, and the one above them that is there.
    std::vector<std::string> missing;
    std::string existing = PathUtil::withoutTrailingSlashes(path);
    while (!existing.empty() && !isFolder(existing)) {
        missing.push_back(existing);
        const std::string above = PathUtil::parent(existing);
        if (above == existing) break;
        existing = above;
    }
    createDirectory(path);
    if (missing.empty()) return;
    platform::flushFolder(existing);
    for (auto folder = missing.rbegin(); folder != missing.rend(); ++folder) platform::flushFolder(*folder);
}

std::optional<std::string> readLink(const std::string& path) {
    struct stat st;
    if (platform::statusNoFollow(path, st) != 0 || !S_ISLNK(st.st_mode)) return std::nullopt;
    // The reported size can be 0 (some file systems) or stale (the link was replaced):
    // grow until the target fits with room to spare, so it is never cut.
    size_t capacity = st.st_size > 0 ? static_cast<size_t>(st.st_size) + 1 : 256;
    constexpr size_t kLimit = size_t{1} << 20;
    while (capacity <= kLimit) {
        std::string buffer(capacity, '\0');
        ssize_t length = platform::readLink(path, buffer.data(), capacity);
        if (length < 0) return std::nullopt;
        if (static_cast<size_t>(length) < capacity) {
            buffer.resize(static_cast<size_t>(length));
            return buffer;
        }
        capacity *= 2;
    }
    return std::nullopt;
}

std::string truncatedToUTF8Bytes(std::string_view text, size_t limit) { return Utf8::truncatedToBytes(text, limit); }

std::string temporaryPath(const std::string& path, TemporaryKind kind, int64_t id) {
    std::string name = truncatedToUTF8Bytes(PathUtil::name(path), kTemporaryNameBytes);
    std::string temporary = "." + name + kTemporaryMarker + toString(kind) + "-" + std::to_string(id);
    return PathUtil::join(PathUtil::parent(path), temporary);
}

bool isTemporaryName(std::string_view name) {
    if (!name.starts_with('.')) return false;
    if (name.find(kTemporaryMarker) == std::string_view::npos) return false;
    for (TemporaryKind kind : kAllKinds) {
        std::string needle = std::string(kTemporaryMarker) + toString(kind) + "-";
        if (name.find(needle) != std::string_view::npos) return true;
    }
    return false;
}

uint32_t clearLockFlags(const std::string& path) {
    std::optional<FileStat> status = FileStat::peek(path);
    if (!status) return 0;
    uint32_t bits = status->flags & platform::kLockMask;
    if (bits == 0) return 0;
    platform::changeLockBits(AT_FDCWD, path.c_str(), 0, bits);
    return bits;
}

void restoreLockFlags(const std::string& path, uint32_t bits) {
    bits &= platform::kLockMask;
    if (bits == 0) return;
    if (!FileStat::peek(path)) return;
    platform::changeLockBits(AT_FDCWD, path.c_str(), bits, 0);
}

void removeFile(const std::string& path) {
    if (platform::calls().unlinkAt(AT_FDCWD, path.c_str(), 0) != 0 && errno != ENOENT)
        throw POSIXFailure("unlink", path, errno);
}

void renameItem(const std::string& from, const std::string& to) {
    if (platform::calls().renameAt(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), 0) != 0) throw POSIXFailure("rename", from + " → " + to, errno);
}

void renameExclusive(const std::string& from, const std::string& to) {
    int error = platform::renameNoReplace(from.c_str(), to.c_str());
    if (error == 0) return;
    if (platform::isUnsupportedRename(error)) {
        if (FileStat::peek(to)) throw POSIXFailure("rename", from + " → " + to, EEXIST);
        renameItem(from, to);
        return;
    }
    throw POSIXFailure("rename", from + " → " + to, error);
}

bool swapItems(const std::string& first, const std::string& second) {
    int error = platform::renameExchange(first.c_str(), second.c_str());
    if (error == 0) return true;
    if (platform::isUnsupportedRename(error)) return false;
    throw POSIXFailure("swap", first + " ⇄ " + second, error);
}

void removeEmptyParents(const std::string& folder, const std::string& top) {
    // Compare without trailing slashes, so that "/T/" never counts as a folder below "/T".
    const std::string topFolder = PathUtil::withoutTrailingSlashes(top);
    std::string current = PathUtil::withoutTrailingSlashes(folder);
    while (current != topFolder && PathUtil::isInside(current, topFolder)) {
        if (platform::calls().unlinkAt(AT_FDCWD, current.c_str(), AT_REMOVEDIR) != 0) return;
        std::string above = PathUtil::parent(current);
        if (above == current) return;
        current = above;
    }
}

Timespec timespec(Date date) {
    double seconds = date.secondsSince1970;
    if (!std::isfinite(seconds)) return Timespec{0, 0};
    double whole = std::floor(seconds);
    // 2^63 is exactly representable; anything at or beyond it doesn't fit.
    constexpr double kLimit = 9223372036854775808.0;
    if (whole >= kLimit) return Timespec{std::numeric_limits<int64_t>::max(), 0};
    if (whole < -kLimit) return Timespec{std::numeric_limits<int64_t>::min(), 0};
    auto nanoseconds = static_cast<int64_t>((seconds - whole) * 1e9);
    return Timespec{static_cast<int64_t>(whole), std::clamp<int64_t>(nanoseconds, 0, 999'999'999)};
}

}  // namespace keldwick
