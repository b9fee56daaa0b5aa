#include "platform/Metadata.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "platform/FileIO.h"
#include "platform/POSIXFailure.h"

namespace keldwick::platform {

namespace {

ssize_t listRaw(const MetadataTarget& item, char* into, size_t size) {
    return item.isLink() ? ::llistxattr(item.path.c_str(), into, size) : ::flistxattr(item.fd, into, size);
}

ssize_t getRaw(const MetadataTarget& item, const std::string& name, void* into, size_t size) {
    return item.isLink() ? ::lgetxattr(item.path.c_str(), name.c_str(), into, size)
                         : ::fgetxattr(item.fd, name.c_str(), into, size);
}

int setRaw(const MetadataTarget& item, const std::string& name, const std::string& value) {
    return item.isLink() ? calls().lsetxattr(item.path.c_str(), name.c_str(), value.data(), value.size(), 0)
                         : calls().fsetxattr(item.fd, name.c_str(), value.data(), value.size(), 0);
}

}  // namespace

std::vector<std::string> xattrNames(const MetadataTarget& item) {
    std::string buffer;
    for (int attempt = 0; attempt < 8; ++attempt) {
        ssize_t size = listRaw(item, nullptr, 0);
        if (size <= 0) return {};
        buffer.assign(static_cast<size_t>(size), '\0');
        ssize_t got = listRaw(item, buffer.data(), buffer.size());
        if (got < 0 && errno == ERANGE) continue;  // grew in between
        if (got < 0) return {};
        buffer.resize(static_cast<size_t>(got));
        std::vector<std::string> names;
        size_t start = 0;
        while (start < buffer.size()) {
            size_t end = buffer.find('\0', start);
            if (end == std::string::npos) end = buffer.size();
            if (end > start) names.push_back(buffer.substr(start, end - start));
            start = end + 1;
        }
        return names;
    }
    return {};
}

std::optional<std::string> xattrValue(const MetadataTarget& item, const std::string& name) {
    for (int attempt = 0; attempt < 8; ++attempt) {
        ssize_t size = getRaw(item, name, nullptr, 0);
        if (size < 0) return std::nullopt;
        std::string value(static_cast<size_t>(size), '\0');
        ssize_t got = getRaw(item, name, value.data(), value.size());
        if (got < 0 && errno == ERANGE) continue;
        if (got < 0) return std::nullopt;
        value.resize(static_cast<size_t>(got));
        return value;
    }
    return std::nullopt;
}

std::optional<size_t> xattrSize(const MetadataTarget& item, const std::string& name) {
    ssize_t size = getRaw(item, name, nullptr, 0);
    if (size < 0) return std::nullopt;
    return static_cast<size_t>(size);
}

bool isCarriedAttribute(const std::string& name) {
    return name.rfind("user.", 0) == 0 || name == "system.posix_acl_access" || name == "system.posix_acl_default";
}

std::vector<std::pair<std::string, std::string>> carriedAttributes(const std::string& path) {
    const MetadataTarget byPath{-1, path};
    std::vector<std::pair<std::string, std::string>> carried;
    for (const auto& name : xattrNames(byPath)) {
        if (!isCarriedAttribute(name)) continue;
        if (auto value = xattrValue(byPath, name)) carried.emplace_back(name, std::move(*value));
    }
    std::sort(carried.begin(), carried.end());
    return carried;
}

bool isCarried(const std::string& name, Carried which) {
    const bool user = name.rfind("user.", 0) == 0;
    switch (which) {
        case Carried::all:
            return isCarriedAttribute(name);
        case Carried::user:
            return user;
        case Carried::acls:
            return !user && isCarriedAttribute(name);
    }
    return false;
}

std::vector<std::string> copyCarriedXattrs(const MetadataTarget& from, const MetadataTarget& to, Carried which) {
    std::vector<std::string> names = xattrNames(from);
    for (const auto& name : names) {
        if (!isCarried(name, which)) continue;
        auto value = xattrValue(from, name);
        if (value) (void)setRaw(to, name, *value);
    }
    return names;
}

std::vector<std::string> copyXattrs(const MetadataTarget& from, const MetadataTarget& to) {
    std::vector<std::string> names = xattrNames(from);
    for (const auto& name : names) {
        auto value = xattrValue(from, name);
        if (value) (void)setRaw(to, name, *value);
    }
    return names;
}

void copyOwner(const struct statx& source, const MetadataTarget& to) {
    if (to.isLink())
        (void)calls().fchownAt(AT_FDCWD, to.path.c_str(), source.stx_uid, source.stx_gid, AT_SYMLINK_NOFOLLOW);
    else
        (void)calls().fchown(to.fd, source.stx_uid, source.stx_gid);
}

void copyMode(const struct statx& source, const MetadataTarget& to) {
    if (to.isLink()) return;
    if (calls().fchmod(to.fd, source.stx_mode & 07777) == 0) return;
    const int error = errno;
    // A drive whose modes come from its mount refuses set-ID and sticky bits it could
    // never store; the journal's record of the mode brings them back home.
    if (error == EPERM && !keepsModesNatively(to.fd)) return;
    throw POSIXFailure("chmod", to.path, error);
}

void copyTimes(const struct statx& source, const MetadataTarget& to) {
    struct timespec times[2] = {
        {static_cast<time_t>(source.stx_atime.tv_sec), static_cast<long>(source.stx_atime.tv_nsec)},
        {static_cast<time_t>(source.stx_mtime.tv_sec), static_cast<long>(source.stx_mtime.tv_nsec)},
    };
    int result = to.isLink() ? calls().utimensAt(AT_FDCWD, to.path.c_str(), times, AT_SYMLINK_NOFOLLOW)
                             : calls().futimens(to.fd, times);
    if (result != 0) throw POSIXFailure("utimens", to.path, errno);
}

void copyLockAttributes(const struct statx& source, const MetadataTarget& to) {
    if (to.isLink()) return;
    int wanted = 0;
    if (source.stx_attributes_mask & STATX_ATTR_IMMUTABLE && source.stx_attributes & STATX_ATTR_IMMUTABLE)
        wanted |= FS_IMMUTABLE_FL;
    if (source.stx_attributes_mask & STATX_ATTR_APPEND && source.stx_attributes & STATX_ATTR_APPEND)
        wanted |= FS_APPEND_FL;
    if (wanted == 0) return;
    int flags = 0;
    if (::ioctl(to.fd, FS_IOC_GETFLAGS, &flags) != 0) return;
    flags |= wanted;
    (void)calls().setInodeFlags(to.fd, flags);
}

}  // namespace keldwick::platform
