#include "engine/FileCopier.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <map>

#include "drives/VolumeInfo.h"
#include "engine/ChunkStream.h"
#include "engine/DrivePath.h"
#include "engine/Prefetcher.h"
#include "foundation/EngineError.h"
#include "foundation/FileOps.h"
#include "foundation/Formatting.h"
#include "foundation/PathUtil.h"
#include "foundation/Utf8.h"
#include "platform/FileIO.h"
#include "platform/FileReading.h"
#include "platform/Metadata.h"
#include "platform/POSIXFailure.h"
#include "platform/Statx.h"

namespace keldwick {

namespace {

// Tags and comments: the metadata a user would miss, so a copy without them fails.
constexpr std::array<const char*, 2> kKeyAttributes{"user.xdg.tags", "user.xdg.comment"};

using platform::Fd;

// Opens for reading without following a final link and without touching the access
// time where this process may ask for that (the original's last use must not move).
Fd openQuietly(int dirfd, const char* name, int flags) {
    return platform::openReadAt(dirfd, name, flags | O_NOFOLLOW | O_NOATIME);
}

struct statx statOf(int fd, const std::string& path) {
    struct statx record;
    if (int error = platform::statxOfDescriptor(fd, record)) throw POSIXFailure("lstat", path, error);
    return record;
}

// 0, or the errno of a status read that found nothing or failed.
int statAt(int dirfd, const std::string& name, struct statx& record) {
    return platform::statxNoFollow(dirfd, name.c_str(), record);
}

std::optional<TreeEntry::Kind> entryKind(uint16_t mode) {
    if (S_ISREG(mode)) return TreeEntry::Kind::file;
    if (S_ISDIR(mode)) return TreeEntry::Kind::directory;
    if (S_ISLNK(mode)) return TreeEntry::Kind::symlink;
    return std::nullopt;
}

bool sameDevice(const struct statx& a, const struct statx& b) {
    return a.stx_dev_major == b.stx_dev_major && a.stx_dev_minor == b.stx_dev_minor;
}

// A file's device and inode.
std::pair<uint64_t, uint64_t> identityOf(const struct statx& record) {
    return {(static_cast<uint64_t>(record.stx_dev_major) << 32) | record.stx_dev_minor, record.stx_ino};
}

// The descriptor a Prefetcher opened by path, when it holds the regular file expected
// there (`expected`, as judged beneath a descriptor) and `record` is its status; else
// nothing, and the caller opens the file itself.
Fd ifTheFile(Fd ahead, std::pair<uint64_t, uint64_t> expected, struct statx& record) {
    if (!ahead || platform::statxOfDescriptor(ahead.get(), record) != 0 || !S_ISREG(record.stx_mode) ||
        identityOf(record) != expected)
        return Fd();
    return ahead;
}

bool sameTime(const struct statx_timestamp& a, const struct statx_timestamp& b) {
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

// The whole target of the link `name` in `dirfd`, however long; nothing on failure.
std::optional<std::string> readLinkAt(int dirfd, const std::string& name) {
    size_t size = 256;
    for (int attempt = 0; attempt < 8; ++attempt) {
        std::string buffer(size, '\0');
        ssize_t n = platform::readLinkAt(dirfd, name.c_str(), buffer.data(), buffer.size());
        if (n < 0) return std::nullopt;
        if (static_cast<size_t>(n) < buffer.size()) {
            buffer.resize(static_cast<size_t>(n));
            return buffer;
        }
        size *= 4;
    }
    return std::nullopt;
}

// The names in an open folder, "." and ".." left out, sorted by bytes. A folder that
// can't be read fully is an error, never a shorter list.
std::vector<std::string> listNames(int dirfd, const std::string& path) {
    return platform::readNames(platform::openDirectory(dirfd, "."), path);
}

std::string childPath(const std::string& folder, const std::string& relative) {
    return relative.empty() ? folder : PathUtil::join(folder, relative);
}

// `sourceNames`: the attributes the source listed, so that one it lacks costs no probe.
void requireKeyAttributes(const platform::MetadataTarget& from, const platform::MetadataTarget& to,
                          const std::string& sourcePath, const std::vector<std::string>& sourceNames) {
    for (const char* name : kKeyAttributes) {
        if (std::find(sourceNames.begin(), sourceNames.end(), name) == sourceNames.end()) continue;
        auto size = platform::xattrSize(from, name);
        if (!size || *size == 0) continue;
        if (platform::xattrSize(to, name) != size) throw EngineError::metadataNotCopied(sourcePath);
    }
}

// How far a copy's source is trusted beyond its content (see applyMetadata).
struct Trust {
    std::optional<mode_t> umask;
    const RecordedMetadata* recorded = nullptr;
    bool acls = false;
    bool userAttributes = false;
};

Trust trustOf(const FileCopier& copier) {
    return {copier.untrustedUmask, copier.recorded ? &*copier.recorded : nullptr, copier.recordedACLs,
            copier.userAttributes};
}

struct Times {
    struct statx_timestamp access;
    struct statx_timestamp modification;
};

// Metadata onto a copy, in the order that keeps each step from undoing another: owner
// (which drops file capabilities), attributes and ACLs, mode, the check of tags and
// comments, times, and the lock attributes last (nothing may be changed after them).
// From an untrusted source (a drive: `trust.umask` set) a copy takes its times and a mode
// capped by the mask, never a set-ID or sticky bit, an owner, an attribute, an ACL or a
// lock attribute: none of those is covered by the digests that vouch for the content.
// Where the journal recorded the item, an entry it holds gets its recorded mode, the item
// itself its owner, and, when the record's digests vouched for them, the source's ACLs;
// user attributes come as `trust.userAttributes` says.
void applyMetadata(const struct statx& source, const platform::MetadataTarget& from,
                   const platform::MetadataTarget& to, const std::string& sourcePath, std::optional<Times> times,
                   const Trust& trust, const std::string& relative) {
    if (trust.umask) {
        const auto recordedMode =
            trust.recorded ? trust.recorded->entryModes.find(relative) : std::map<std::string, uint32_t>::const_iterator{};
        const bool recorded = trust.recorded && recordedMode != trust.recorded->entryModes.end();
        if (!to.isLink()) {
            if (recorded && relative.empty()) (void)platform::calls().fchown(to.fd, trust.recorded->uid, trust.recorded->gid);
            // Attributes before the mode: an ACL sets the group bits, which the mode then sets as they were.
            if (recorded && trust.acls) platform::copyCarriedXattrs(from, to, platform::Carried::acls);
            if (trust.userAttributes) {
                const auto names = platform::copyCarriedXattrs(from, to, platform::Carried::user);
                requireKeyAttributes(from, to, sourcePath, names);
            }
            const mode_t mode = recorded ? recordedMode->second & 07777 : source.stx_mode & 0777 & ~*trust.umask;
            if (platform::calls().fchmod(to.fd, mode) != 0) throw POSIXFailure("chmod", to.path, errno);
        }
        if (times) {
            struct statx withTimes = source;
            withTimes.stx_atime = times->access;
            withTimes.stx_mtime = times->modification;
            platform::copyTimes(withTimes, to);
        }
        return;
    }
    platform::copyOwner(source, to);
    const auto names = platform::copyXattrs(from, to);
    platform::copyMode(source, to);
    requireKeyAttributes(from, to, sourcePath, names);
    if (times) {
        struct statx withTimes = source;
        withTimes.stx_atime = times->access;
        withTimes.stx_mtime = times->modification;
        platform::copyTimes(withTimes, to);
    }
    platform::copyLockAttributes(source, to);
}

Times timesOf(const struct statx& record) { return {record.stx_atime, record.stx_mtime}; }

struct statx_timestamp timestampOf(Timespec t) {
    struct statx_timestamp out {};
    out.tv_sec = t.seconds;
    out.tv_nsec = static_cast<uint32_t>(t.nanoseconds);
    return out;
}

// After its data and metadata, a copied file is flushed; with `fileAndVolume`, its whole
// volume too where the file system's fsync can't be trusted. `later`: its write-back is
// only started, and the copy is handed back open for the caller to flush (a tree on a
// volume whose fsync can't be trusted flushes its files together at the end). `byVolume`:
// nothing is flushed or dropped here; the caller makes the whole tree durable with one
// syncfs, and the verification that follows drops the (then clean) pages before reading.
enum class Flush { file, fileAndVolume, later, byVolume };

struct CopiedFile {
    std::string sha256;
    int64_t bytes = 0;
    Fd unflushed;  // with Flush::later
};

// Copied files whose write-back has started, each held open until it is flushed: the mode
// a copy was given may not let this process open it again. Flushed together when the
// batch is full and when the caller asks.
class PendingFlushes {
public:
    // Well below the usual limit of 1024 descriptors, whatever the size of the tree.
    static constexpr size_t kHeld = 256;

    void add(Fd file, std::string path) {
        files_.emplace_back(std::move(file), std::move(path));
        if (files_.size() >= kHeld) flush();
    }

    void flush() {
        for (auto& [file, path] : files_) {
            platform::flushFile(file.get(), path);
            // Only clean pages go: after the flush, all of them.
            ChunkStream::dropCachedPages(file.get());
            if (platform::closeReporting(file) != 0 && errno != EINTR) throw POSIXFailure("write", path, errno);
        }
        files_.clear();
    }

private:
    std::vector<std::pair<Fd, std::string>> files_;
};

// The copy of a regular file open as `source`, whose status `before` was read from that
// descriptor.
CopiedFile copyOpenFile(const Fd& source, const struct statx& before, const std::string& sourcePath,
                        int destinationDir, const std::string& destinationName, const std::string& destinationPath,
                        Flush flush, int64_t chunkSize, const ChunkStream::Progress& progress, const Trust& trust,
                        const std::string& relative) {
    Fd destination(platform::calls().openAt(destinationDir, destinationName.c_str(),
                                            O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (destination.get() < 0) throw POSIXFailure("create", destinationPath, errno);

    // A file the record says had holes gets them back even from a copy written out in
    // full (a drive without holes); elsewhere the source's own holes are kept.
    const bool hadHoles = trust.recorded && trust.recorded->sparseEntries.count(relative) != 0;
    auto copied = ChunkStream::copy(source.get(), destination.get(), chunkSize,
                                    hadHoles ? ChunkStream::Holes::zeroBlocks : ChunkStream::Holes::asSource, progress,
                                    sourcePath, destinationPath, &before);

    // A file written while it was read gives a copy that matches no version of it.
    struct statx after = statOf(source.get(), sourcePath);
    if (copied.bytes != static_cast<int64_t>(before.stx_size) || after.stx_size != before.stx_size ||
        !sameTime(after.stx_mtime, before.stx_mtime) || !sameTime(after.stx_ctime, before.stx_ctime))
        throw EngineError::sourceChanged(sourcePath);

    applyMetadata(before, {source.get(), sourcePath}, {destination.get(), destinationPath}, sourcePath,
                  timesOf(before), trust, relative);

    if (flush == Flush::later) {
        platform::startWriteBack(destination.get(), destinationPath);
        return {copied.sha256, copied.bytes, std::move(destination)};
    }
    if (flush == Flush::byVolume) {
        if (platform::closeReporting(destination) != 0 && errno != EINTR)
            throw POSIXFailure("write", destinationPath, errno);
        return {copied.sha256, copied.bytes, Fd()};
    }
    platform::flushFile(destination.get(), destinationPath);
    if (flush == Flush::fileAndVolume) platform::syncVolumeIfUntrusted(destination.get(), destinationPath);
    // Only clean pages go: after the flush, all of them.
    ChunkStream::dropCachedPages(destination.get());
    if (platform::closeReporting(destination) != 0 && errno != EINTR) throw POSIXFailure("write", destinationPath, errno);
    return {copied.sha256, copied.bytes, Fd()};
}

CopiedFile copyFileAt(int sourceDir, const std::string& sourceName, const std::string& sourcePath, int destinationDir,
                      const std::string& destinationName, const std::string& destinationPath, Flush flush,
                      int64_t chunkSize, const ChunkStream::Progress& progress, const Trust& trust,
                      const std::string& relative) {
    Fd source(openQuietly(sourceDir, sourceName.c_str(), O_NONBLOCK));
    if (source.get() < 0) throw POSIXFailure("open", sourcePath, errno);
    struct statx before = statOf(source.get(), sourcePath);
    // Anything but a regular file (a FIFO swapped in) must not be read.
    if (!S_ISREG(before.stx_mode)) throw EngineError::unsupportedItem(sourcePath);
    return copyOpenFile(source, before, sourcePath, destinationDir, destinationName, destinationPath, flush, chunkSize,
                        progress, trust, relative);
}

// A file of the walk with more than one name: its link count and the names it has in the tree.
struct LinkedFile {
    uint32_t linkCount = 0;
    std::vector<std::string> paths;
};

// The walk with what the copier needs besides the entries: the status of each folder
// taken before it was listed (listing may move its access time), and the files with more
// than one name (one device holds the whole tree, so an inode number names a file).
struct Walk {
    std::vector<TreeEntry> entries;
    // Each file's device and inode, in walk order: what a descriptor opened for it later
    // by its path must be.
    std::vector<std::pair<uint64_t, uint64_t>> files;
    std::map<std::string, struct statx> folders;  // by relative path; "" is the top
    std::map<std::string, uint64_t> inodeOf;      // files with more than one name, by relative path
    std::map<uint64_t, LinkedFile> linked;
};

FileCopier::HardLinks hardLinksOf(const Walk& walk) {
    FileCopier::HardLinks links;
    std::map<uint64_t, int64_t> numbers;
    for (const auto& entry : walk.entries) {
        auto inode = walk.inodeOf.find(entry.path);
        if (inode == walk.inodeOf.end()) continue;
        const LinkedFile& file = walk.linked.at(inode->second);
        if (file.paths.size() >= 2) {
            const int64_t next = static_cast<int64_t>(numbers.size()) + 1;
            links.groups[entry.path] = numbers.emplace(inode->second, next).first->second;
        }
        if (file.linkCount > file.paths.size()) links.reachingOutside.insert(entry.path);
    }
    return links;
}

class Walker {
public:
    Walker(std::string top, FileCopier::SpecialFiles specials) : top_(std::move(top)), specials_(specials) {}

    Walk run() {
        Fd topFd(openQuietly(AT_FDCWD, top_.c_str(), O_DIRECTORY));
        if (topFd.get() < 0) throw POSIXFailure("opendir", top_, errno);
        topStatus_ = statOf(topFd.get(), top_);
        result_.folders[""] = topStatus_;
        visit(topFd.get(), "");
        return std::move(result_);
    }

private:
    void visit(int dirfd, const std::string& prefix) {
        std::string folderPath = childPath(top_, prefix);
        for (const auto& name : listNames(dirfd, folderPath)) {
            std::string relative = prefix.empty() ? name : prefix + "/" + name;
            std::string full = PathUtil::join(top_, relative);
            // Names are recorded in JSON and the journal, which take UTF-8 only.
            if (!Utf8::isValid(name)) throw EngineError::unsupportedItem(full);
            struct statx record;
            if (int error = statAt(dirfd, name, record)) {
                if (error == ENOENT || error == ENOTDIR) continue;  // vanished meanwhile
                throw POSIXFailure("lstat", full, error);
            }
            if (!sameDevice(record, topStatus_) || platform::isMountRoot(record))
                throw EngineError::notEligible(top_, quoted(relative) + ": On another disk");
            auto kind = entryKind(record.stx_mode);
            if (!kind) {
                if (specials_ == FileCopier::SpecialFiles::skip) continue;
                throw EngineError::unsupportedItem(full);
            }
            TreeEntry entry{relative, *kind, 0, std::nullopt, std::nullopt};
            switch (*kind) {
                case TreeEntry::Kind::file:
                    entry.size = static_cast<int64_t>(record.stx_size);
                    result_.files.push_back(identityOf(record));
                    if (record.stx_nlink >= 2) {
                        LinkedFile& file = result_.linked[record.stx_ino];
                        file.linkCount = record.stx_nlink;
                        file.paths.push_back(relative);
                        result_.inodeOf[relative] = record.stx_ino;
                    }
                    result_.entries.push_back(std::move(entry));
                    break;
                case TreeEntry::Kind::symlink: {
                    auto target = readLinkAt(dirfd, name);
                    if (!target || !Utf8::isValid(*target)) throw EngineError::unsupportedItem(full);
                    entry.target = std::move(*target);
                    result_.entries.push_back(std::move(entry));
                    break;
                }
                case TreeEntry::Kind::directory: {
                    Fd child(openQuietly(dirfd, name.c_str(), O_DIRECTORY));
                    if (child.get() < 0) {
                        if (errno == ENOENT) continue;
                        throw POSIXFailure("opendir", full, errno);
                    }
                    result_.folders[relative] = record;
                    result_.entries.push_back(std::move(entry));
                    visit(child.get(), relative);
                    break;
                }
            }
        }
    }

    std::string top_;
    FileCopier::SpecialFiles specials_;
    struct statx topStatus_ {};
    Walk result_;
};

std::string parentOf(const std::string& relative) {
    auto slash = relative.rfind('/');
    return slash == std::string::npos ? "" : relative.substr(0, slash);
}

std::string lastComponent(const std::string& relative) {
    auto slash = relative.rfind('/');
    return slash == std::string::npos ? relative : relative.substr(slash + 1);
}

// Files with several names already hashed in one pass over a tree, by device and inode.
using HashedFiles = std::map<std::pair<uint64_t, uint64_t>, ChunkStream::Result>;

// The digest and size of a file as the medium holds it. With `hashed`, a file with
// several names is read once: the name opened now is the file read before. `ahead`: the
// descriptor a Prefetcher reading from the medium dropped and read the file ahead
// through, used when it is the file `named` (the path's status just read) says.
ChunkStream::Result hashFile(const std::string& path, int64_t chunkSize, HashedFiles* hashed = nullptr,
                             Fd ahead = Fd(), const struct statx* named = nullptr) {
    struct statx record;
    Fd fd = named ? ifTheFile(std::move(ahead), identityOf(*named), record) : Fd();
    const bool dropped = fd.valid();
    if (!fd) {
        fd = openQuietly(AT_FDCWD, path.c_str(), O_NONBLOCK);
        if (fd.get() < 0) throw POSIXFailure("open", path, errno);
        record = statOf(fd.get(), path);
        if (!S_ISREG(record.stx_mode)) throw POSIXFailure("open", path, EINVAL);
    }
    const auto file = identityOf(record);
    const bool several = hashed && record.stx_nlink >= 2;
    if (several) {
        if (auto found = hashed->find(file); found != hashed->end()) return found->second;
    }
    auto result = ChunkStream::hashFromMedium(fd.get(), chunkSize, path, dropped, &record);
    if (several) hashed->emplace(file, result);
    return result;
}

// The files among the entries, with their paths below `root`, for a Prefetcher.
std::vector<Prefetcher::File> filesOf(const std::string& root, const std::vector<TreeEntry>& entries) {
    std::vector<Prefetcher::File> files;
    for (const auto& entry : entries)
        if (entry.kind == TreeEntry::Kind::file) files.push_back({childPath(root, entry.path), entry.size});
    return files;
}

// One folder copy: the walk of the source, and the two top folders held open so that
// every entry is reached beneath them by descriptor.
class TreeCopy {
public:
    TreeCopy(std::string source, std::string destination, Walk walked, Trust trust,
             const std::map<std::string, std::string>* cloneCandidates = nullptr,
             std::optional<int64_t> cloneAllowance = std::nullopt)
        : source_(std::move(source)), destination_(std::move(destination)), walked_(std::move(walked)),
          trust_(trust), cloneCandidates_(cloneCandidates), cloneAllowance_(cloneAllowance),
          sourceTop_(openQuietly(AT_FDCWD, source_.c_str(), O_DIRECTORY)) {
        if (sourceTop_.get() < 0) throw POSIXFailure("opendir", source_, errno);
        if (platform::calls().mkdirAt(AT_FDCWD, destination_.c_str(), 0700) != 0)
            throw POSIXFailure("mkdir", destination_, errno);
        // Opened before anything is written in it: syncfs reports a failed write-back on
        // the volume only through descriptors opened before it happened. And it is the
        // copy's own volume, whatever its parent's name leads to.
        destinationTop_ = platform::openDirectory(AT_FDCWD, destination_, O_NOFOLLOW);
        if (destinationTop_.get() < 0) throw POSIXFailure("open", destination_, errno);
        byVolume_ = platform::fsyncIsTrusted(destinationTop_.get());
    }

    // Every walked entry copied in walk order, each checked against the walk first.
    std::vector<TreeEntry> copyEntries(int64_t chunkSize, const FileCopier::Progress& progress) {
        // Open folders of the entry being copied, from the top down; walk order puts each
        // folder before its content, so an entry's folder is always on this stack.
        std::vector<Frame> stack;
        stack.push_back({"", platform::duplicate(sourceTop_.get()), platform::duplicate(destinationTop_.get())});
        std::vector<TreeEntry> entries;
        entries.reserve(walked_.entries.size());
        int64_t earlierFiles = 0;
        Prefetcher prefetcher(filesOf(source_, walked_.entries), false);
        size_t fileIndex = 0;
        for (const auto& walkedEntry : walked_.entries) {
            const std::string& relative = walkedEntry.path;
            const std::string parent = parentOf(relative);
            while (stack.size() > 1 && stack.back().relative != parent) stack.pop_back();
            if (stack.back().relative != parent)
                throw EngineError::invalidState("The copy lost its place in the folder.");
            Frame& frame = stack.back();
            const Names names{lastComponent(relative), PathUtil::join(source_, relative),
                              PathUtil::join(destination_, relative)};
            // A file is opened once (by the prefetcher, or here when that isn't the file
            // walked) and its status read from the open descriptor; other entries are
            // checked by name.
            Fd source;
            const struct statx record =
                walkedEntry.kind == TreeEntry::Kind::file
                    ? openedFile(frame, names, source, prefetcher.reach(fileIndex), walked_.files.at(fileIndex))
                    : checkedStatus(frame, names, walkedEntry);

            TreeEntry entry{relative, walkedEntry.kind, 0, std::nullopt, std::nullopt};
            switch (walkedEntry.kind) {
                case TreeEntry::Kind::directory:
                    stack.push_back(copyFolder(frame, names, relative));
                    break;
                case TreeEntry::Kind::symlink:
                    entry.target = copyLink(frame, names, record, walkedEntry, trust_.umask.has_value());
                    break;
                case TreeEntry::Kind::file: {
                    ++fileIndex;
                    const FirstCopy* first = linkable(names, record, relative, chunkSize);
                    if (first && linkTo(*first, frame, names, relative)) {
                        entry.size = first->bytes;
                        entry.sha256 = first->sha256;
                        break;
                    }
                    if (auto cloned = cloneOfSameContent(frame, names, source, record, relative, chunkSize)) {
                        earlierFiles += cloned->bytes;
                        if (progress) progress(earlierFiles);
                        entry.size = cloned->bytes;
                        entry.sha256 = std::move(cloned->sha256);
                        remember(relative, record, entry);
                        break;
                    }
                    if (cloneCandidates_ && cloneCandidates_->count(relative)) {
                        // Counted as a clone, it takes room after all.
                        unclonedBytes_ += static_cast<int64_t>(record.stx_size);
                        if (cloneAllowance_ && unclonedBytes_ > *cloneAllowance_)
                            throw EngineError::notEnoughSpaceOnComputer(unclonedBytes_, *cloneAllowance_);
                    }
                    auto copied = copyOpenFile(source, record, names.source, frame.destination.get(), names.name,
                                               names.destination, byVolume_ ? Flush::byVolume : Flush::later,
                                               chunkSize,
                                               [&](int64_t done) {
                                                   if (progress) progress(earlierFiles + done);
                                               },
                                               trust_, relative);
                    source.reset();
                    if (copied.unflushed) pending_.add(std::move(copied.unflushed), names.destination);
                    earlierFiles += copied.bytes;
                    entry.size = copied.bytes;
                    entry.sha256 = std::move(copied.sha256);
                    remember(relative, record, entry);
                    if (cloneCandidates_) byContent_.emplace(*entry.sha256, std::make_pair(relative, entry.size));
                    break;
                }
            }
            entries.push_back(std::move(entry));
        }
        pending_.flush();
        return entries;
    }

    // Folders last and deepest first: creating their content moved their dates. Where the
    // volume's fsync can't be trusted, each is flushed once its entries and metadata are
    // final; elsewhere flush() covers them.
    void applyFolderMetadata(const std::vector<TreeEntry>& entries) {
        for (auto it = entries.rbegin(); it != entries.rend(); ++it) {
            if (it->kind != TreeEntry::Kind::directory) continue;
            Fd sourceDir(openQuietly(sourceTop_.get(), it->path.c_str(), O_DIRECTORY));
            if (sourceDir.get() < 0) throw EngineError::sourceChanged(PathUtil::join(source_, it->path));
            const std::string destinationPath = PathUtil::join(destination_, it->path);
            Fd destinationDir = platform::openDirectory(destinationTop_.get(), it->path, O_NOFOLLOW);
            if (destinationDir.get() < 0) throw POSIXFailure("open", destinationPath, errno);
            applyFolder(it->path, sourceDir.get(), destinationDir.get());
            if (!byVolume_) platform::flushFolderAt(destinationDir.get(), destinationPath);
        }
        applyFolder("", sourceTop_.get(), destinationTop_.get());
        if (!byVolume_) platform::flushFolderAt(destinationTop_.get(), destination_);
    }

    // The whole tree durable in one wait: one syncfs of the volume where its fsync can be
    // trusted (the disk merges the writes of every file and folder, where a fsync each
    // would wait its turn once per file); elsewhere the flushes made so far and a syncfs
    // as well, since fsync there may flush less than it covers.
    void flush() {
        if (byVolume_)
            platform::syncVolume(destinationTop_.get(), destination_);
        else
            platform::syncVolumeIfUntrusted(destinationTop_.get(), destination_);
    }

    // The names the copy made of one file, by path: their group's number.
    const FileCopier::LinkGroups& linkGroups() const { return linked_; }

private:
    // The copy a group's further names are linked to.
    struct FirstCopy {
        std::string relative;
        std::string sha256;
        int64_t bytes = 0;
        uint64_t sourceInode = 0;
        int64_t group = 0;  // its number among the copy's groups
    };
    struct Frame {
        std::string relative;
        Fd source;
        Fd destination;
    };
    // An entry's name in its folder, and its full paths for errors.
    struct Names {
        std::string name;
        std::string source;
        std::string destination;
    };

    // The entry's status now, which must still be of the kind walked.
    static struct statx checkedStatus(const Frame& frame, const Names& names, const TreeEntry& walkedEntry) {
        struct statx record;
        if (int error = statAt(frame.source.get(), names.name, record)) {
            if (error == ENOENT || error == ENOTDIR) throw EngineError::sourceChanged(names.source);
            throw POSIXFailure("lstat", names.source, error);
        }
        if (entryKind(record.stx_mode) != walkedEntry.kind) throw EngineError::unsupportedItem(names.source);
        return record;
    }

    // The walked file opened for copying, into `source`, and its status read from it,
    // with the errors the check by name gives: gone is a changed source, and anything
    // but a regular file now (a link, a FIFO, a socket) can't be copied. `ahead`, opened
    // by path, serves only when it is the very file the walk judged (`walked`).
    static struct statx openedFile(const Frame& frame, const Names& names, Fd& source, Fd ahead,
                                   std::pair<uint64_t, uint64_t> walked) {
        struct statx known;
        source = ifTheFile(std::move(ahead), walked, known);
        // Still under its name: whatever took the name after the walk is refused below.
        struct statx named;
        if (source && statAt(frame.source.get(), names.name, named) == 0 && identityOf(named) == walked) return known;
        source = openQuietly(frame.source.get(), names.name.c_str(), O_NONBLOCK);
        if (source.get() < 0) {
            if (errno == ENOENT || errno == ENOTDIR) throw EngineError::sourceChanged(names.source);
            if (errno == ELOOP || errno == ENXIO) throw EngineError::unsupportedItem(names.source);
            throw POSIXFailure("open", names.source, errno);
        }
        const struct statx record = statOf(source.get(), names.source);
        if (!S_ISREG(record.stx_mode)) throw EngineError::unsupportedItem(names.source);
        return record;
    }

    // The folder made in the copy; gives the frame of both, opened, for its content.
    static Frame copyFolder(const Frame& frame, const Names& names, const std::string& relative) {
        if (platform::calls().mkdirAt(frame.destination.get(), names.name.c_str(), 0700) != 0)
            throw POSIXFailure("mkdir", names.destination, errno);
        Fd sourceDir(openQuietly(frame.source.get(), names.name.c_str(), O_DIRECTORY));
        if (sourceDir.get() < 0) {
            if (errno == ENOENT || errno == ENOTDIR || errno == ELOOP) throw EngineError::sourceChanged(names.source);
            throw POSIXFailure("opendir", names.source, errno);
        }
        Fd destinationDir = platform::openDirectory(frame.destination.get(), names.name, O_NOFOLLOW);
        if (destinationDir.get() < 0) throw POSIXFailure("open", names.destination, errno);
        return {relative, std::move(sourceDir), std::move(destinationDir)};
    }

    // The link made in the copy with the walked target, its owner, attributes and times.
    static std::string copyLink(const Frame& frame, const Names& names, const struct statx& record,
                                const TreeEntry& walkedEntry, bool untrusted) {
        auto target = readLinkAt(frame.source.get(), names.name);
        if (!target || target != walkedEntry.target) throw EngineError::sourceChanged(names.source);
        if (platform::calls().symlinkAt(target->c_str(), frame.destination.get(), names.name.c_str()) != 0)
            throw POSIXFailure("symlink", names.destination, errno);
        platform::MetadataTarget from{-1, names.source};
        platform::MetadataTarget to{-1, names.destination};
        if (!untrusted) {
            platform::copyOwner(record, to);
            platform::copyXattrs(from, to);
        }
        platform::copyTimes(record, to);
        return std::move(*target);
    }

    // The group a file belongs to: from a trusted source the file itself (its inode), from
    // an untrusted one the group the journal recorded. Nothing for a file of one name.
    std::optional<int64_t> groupKey(const struct statx& record, const std::string& relative) const {
        if (!trust_.umask) {
            if (record.stx_nlink < 2) return std::nullopt;
            return static_cast<int64_t>(record.stx_ino);
        }
        if (!trust_.recorded) return std::nullopt;
        auto group = trust_.recorded->linkGroups.find(relative);
        if (group == trust_.recorded->linkGroups.end()) return std::nullopt;
        return group->second;
    }

    // The copy this file becomes a further name of, or nothing to copy it on its own. From
    // an untrusted source, names recorded as one file that the source no longer has as one
    // are linked only when their contents match: two files that differ never become one.
    const FirstCopy* linkable(const Names& names, const struct statx& record, const std::string& relative,
                              int64_t chunkSize) const {
        auto key = groupKey(record, relative);
        if (!key) return nullptr;
        auto found = firstCopies_.find(*key);
        if (found == firstCopies_.end()) return nullptr;
        const FirstCopy& first = found->second;
        if (!trust_.umask || record.stx_ino == first.sourceInode) return &first;
        if (static_cast<int64_t>(record.stx_size) != first.bytes) return nullptr;
        const auto hashed = hashFile(names.source, chunkSize);
        return hashed.bytes == first.bytes && hashed.sha256 == first.sha256 ? &first : nullptr;
    }

    void remember(const std::string& relative, const struct statx& record, const TreeEntry& entry) {
        auto key = groupKey(record, relative);
        if (!key || !entry.sha256) return;
        const int64_t number = static_cast<int64_t>(firstCopies_.size()) + 1;
        firstCopies_.emplace(*key, FirstCopy{relative, *entry.sha256, entry.size, record.stx_ino, number});
    }

    // The file made a further name of its group's first copy, which holds its content,
    // metadata and times already. False where the volume takes no further name for that
    // copy (too many names, or none at all): the file is then copied on its own.
    bool linkTo(const FirstCopy& first, const Frame& frame, const Names& names, const std::string& relative) {
        if (platform::calls().linkAt(destinationTop_.get(), first.relative.c_str(), frame.destination.get(),
                                     names.name.c_str(), 0) != 0) {
            if (errno == EMLINK || errno == EPERM || errno == EOPNOTSUPP) return false;
            throw POSIXFailure("link", names.destination, errno);
        }
        linked_[first.relative] = first.group;
        linked_[relative] = first.group;
        return true;
    }

    // The file as a clone of the copy already made of the same content, for a file the
    // caller expects to hold it; nothing to copy it as usual (another content, a volume
    // that can't clone, a copy that can't be opened), with `source` open on it again.
    std::optional<CopiedFile> cloneOfSameContent(const Frame& frame, const Names& names, Fd& source,
                                                 const struct statx& record, const std::string& relative,
                                                 int64_t chunkSize) {
        if (!cloneCandidates_ || cannotClone_) return std::nullopt;
        auto expected = cloneCandidates_->find(relative);
        if (expected == cloneCandidates_->end()) return std::nullopt;
        auto earlier = byContent_.find(expected->second);
        if (earlier == byContent_.end() || earlier->second.second != static_cast<int64_t>(record.stx_size))
            return std::nullopt;
        // Same content only as read from the drive now, whatever the journal expected.
        const auto hashed = ChunkStream::hashFromMedium(source.get(), chunkSize, names.source);
        std::optional<CopiedFile> cloned;
        if (hashed.sha256 == expected->second && hashed.bytes == earlier->second.second) {
            Fd from(platform::openReadAt(destinationTop_.get(), earlier->second.first.c_str(), O_NOFOLLOW));
            Fd copy(platform::calls().openAt(frame.destination.get(), names.name.c_str(),
                                             O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
            if (copy.get() < 0) throw POSIXFailure("create", names.destination, errno);
            if (from && platform::calls().cloneFile(copy.get(), from.get()) == 0) {
                cloned = CopiedFile{hashed.sha256, hashed.bytes, std::move(copy)};
            } else {
                cannotClone_ = true;
                copy.reset();
                if (platform::calls().unlinkAt(frame.destination.get(), names.name.c_str(), 0) != 0)
                    throw POSIXFailure("unlink", names.destination, errno);
            }
        }
        if (!cloned) {
            source = Fd();
            const struct statx again = openedFile(frame, names, source, Fd(), identityOf(record));
            if (again.stx_ino != record.stx_ino) throw EngineError::sourceChanged(names.source);
            return std::nullopt;
        }
        // A file written while it was read matches no version of it.
        const struct statx after = statOf(source.get(), names.source);
        if (after.stx_size != record.stx_size || !sameTime(after.stx_mtime, record.stx_mtime) ||
            !sameTime(after.stx_ctime, record.stx_ctime))
            throw EngineError::sourceChanged(names.source);
        applyMetadata(record, {source.get(), names.source}, {cloned->unflushed.get(), names.destination},
                      names.source, timesOf(record), trust_, relative);
        source.reset();
        pending_.add(std::move(cloned->unflushed), names.destination);
        return cloned;
    }

    void applyFolder(const std::string& relative, int sourceFd, int destinationFd) {
        const struct statx& before = walked_.folders.at(relative);
        std::string sourcePath = childPath(source_, relative);
        applyMetadata(before, {sourceFd, sourcePath}, {destinationFd, childPath(destination_, relative)}, sourcePath,
                      timesOf(before), trust_, relative);
    }

    std::string source_;
    std::string destination_;
    Walk walked_;
    Trust trust_;
    const std::map<std::string, std::string>* cloneCandidates_ = nullptr;
    std::optional<int64_t> cloneAllowance_;
    int64_t unclonedBytes_ = 0;
    Fd sourceTop_;
    Fd destinationTop_;
    bool byVolume_ = false;  // the whole tree made durable by one syncfs
    PendingFlushes pending_;
    std::map<int64_t, FirstCopy> firstCopies_;  // by group key
    FileCopier::LinkGroups linked_;
    // The first copy written of each content: its relative path and size, by digest.
    std::map<std::string, std::pair<std::string, int64_t>> byContent_;
    bool cannotClone_ = false;  // the destination refused a clone once: it won't take one
};

}  // namespace

std::string FileCopier::copyFile(const std::string& source, const std::string& destination, bool fullSync,
                                 const Progress& progress) const {
    return copyFileAt(AT_FDCWD, source, source, AT_FDCWD, destination, destination,
                      fullSync ? Flush::fileAndVolume : Flush::file, chunkSize, progress, trustOf(*this), "")
        .sha256;
}

std::vector<TreeEntry> FileCopier::copyTree(const std::string& source, const std::string& destination,
                                            const Progress& progress, LinkGroups* linked) const {
    auto status = FileStat::read(source);
    if (!status) throw POSIXFailure("lstat", source, ENOENT);
    if (!status->isDirectory()) throw EngineError::unsupportedItem(source);
    Walk walked = Walker(source, SpecialFiles::refuse).run();
    if (!leaveOut.empty())
        std::erase_if(walked.entries, [&](const TreeEntry& entry) {
            return entry.kind == TreeEntry::Kind::symlink && leaveOut.count(entry.path);
        });
    TreeCopy copy(source, destination, std::move(walked), trustOf(*this),
                  cloneCandidates.empty() ? nullptr : &cloneCandidates, cloneAllowance);
    auto entries = copy.copyEntries(chunkSize, progress);
    copy.applyFolderMetadata(entries);
    copy.flush();
    if (linked) *linked = copy.linkGroups();
    return entries;
}

std::vector<TreeEntry> FileCopier::walk(const std::string& folder, SpecialFiles specialFiles) const {
    return Walker(folder, specialFiles).run().entries;
}

std::vector<TreeEntry> FileCopier::walk(const std::string& folder, SpecialFiles specialFiles, HardLinks& links) const {
    Walk walked = Walker(folder, specialFiles).run();
    links = hardLinksOf(walked);
    return std::move(walked.entries);
}

std::vector<TreeEntry> FileCopier::hashedEntries(const std::string& folder,
                                                 const std::set<std::string>& excluding) const {
    return hashedEntries(folder, walk(folder, SpecialFiles::skip), excluding);
}

std::vector<TreeEntry> FileCopier::hashedEntries(const std::string& folder, std::vector<TreeEntry> walked,
                                                 const std::set<std::string>& excluding) const {
    std::vector<TreeEntry> entries;
    for (auto& entry : walked)
        if (!excluding.count(entry.path)) entries.push_back(std::move(entry));
    Prefetcher prefetcher(filesOf(folder, entries), true);
    size_t fileIndex = 0;
    HashedFiles hashed;
    for (auto& entry : entries) {
        if (entry.kind != TreeEntry::Kind::file) continue;
        const std::string path = PathUtil::join(folder, entry.path);
        Fd ahead = prefetcher.reach(fileIndex++);
        struct statx named;
        const bool known = ahead && statAt(AT_FDCWD, path, named) == 0;
        entry.sha256 = hashFile(path, chunkSize, &hashed, std::move(ahead), known ? &named : nullptr).sha256;
    }
    return entries;
}

bool FileCopier::holdsOnlyPartsOf(const std::string& original, const std::string& driveItem,
                                  const std::string& driveRoot, Compare compare) const {
    try {
        if (!DrivePath::isBeneath(driveRoot, driveItem)) return false;
        auto originalStatus = FileStat::read(original);
        auto driveStatus = FileStat::read(driveItem);
        if (!originalStatus || !driveStatus) return false;
        auto sameFile = [&](const std::string& a, int64_t sizeA, const std::string& b, int64_t sizeB) {
            if (sizeA != sizeB) return false;
            return compare == Compare::sizes || hashFile(a, chunkSize).sha256 == hashFile(b, chunkSize).sha256;
        };
        if (originalStatus->isFile() && driveStatus->isFile())
            return sameFile(original, originalStatus->size, driveItem, driveStatus->size);
        if (!driveStatus->isDirectory()) return false;

        auto entries = walk(driveItem, SpecialFiles::refuse);
        auto sidecars = sidecarPaths(entries, driveRoot);
        for (const auto& entry : entries) {
            if (sidecars.count(entry.path)) continue;
            std::string originalPath = PathUtil::join(original, entry.path);
            auto status = FileStat::read(originalPath);
            if (!status) return false;
            switch (entry.kind) {
                case TreeEntry::Kind::directory:
                    if (!status->isDirectory()) return false;
                    break;
                case TreeEntry::Kind::symlink:
                    if (!status->isSymlink() || readLink(originalPath) != entry.target) return false;
                    break;
                case TreeEntry::Kind::file:
                    if (!status->isFile() ||
                        !sameFile(originalPath, status->size, PathUtil::join(driveItem, entry.path), entry.size))
                        return false;
                    break;
            }
        }
        return true;
    } catch (...) {
        return false;
    }
}

void FileCopier::verify(const std::string& root, const std::vector<TreeEntry>& entries) const {
    Prefetcher prefetcher(filesOf(root, entries), true);
    size_t fileIndex = 0;
    HashedFiles hashedFiles;
    for (const auto& entry : entries) {
        std::string path = childPath(root, entry.path);
        struct statx record;
        if (int error = statAt(AT_FDCWD, path, record)) {
            if (error == ENOENT || error == ENOTDIR) throw EngineError::checksumMismatch(path);
            throw POSIXFailure("lstat", path, error);
        }
        if (entryKind(record.stx_mode) != entry.kind) throw EngineError::checksumMismatch(path);
        switch (entry.kind) {
            case TreeEntry::Kind::directory:
                break;
            case TreeEntry::Kind::symlink:
                if (readLinkAt(AT_FDCWD, path) != entry.target) throw EngineError::checksumMismatch(path);
                break;
            case TreeEntry::Kind::file: {
                Fd ahead = prefetcher.reach(fileIndex++);
                if (static_cast<int64_t>(record.stx_size) != entry.size) throw EngineError::checksumMismatch(path);
                auto hashed = hashFile(path, chunkSize, &hashedFiles, std::move(ahead), &record);
                if (hashed.bytes != entry.size || !entry.sha256 || hashed.sha256 != *entry.sha256)
                    throw EngineError::checksumMismatch(path);
                break;
            }
        }
    }
}

void FileCopier::copyMetadata(const std::string& source, const std::string& destination,
                              const std::optional<FileStat>& stat) const {
    struct statx record;
    if (int error = statAt(AT_FDCWD, source, record)) throw POSIXFailure("lstat", source, error);
    std::optional<Times> times;
    if (stat) times = Times{timestampOf(stat->accessTime), timestampOf(stat->modificationTime)};

    if (!S_ISREG(record.stx_mode) && !S_ISDIR(record.stx_mode)) {
        applyMetadata(record, {-1, source}, {-1, destination}, source, times, trustOf(*this), "");
        return;
    }
    int extra = S_ISDIR(record.stx_mode) ? O_DIRECTORY : O_NONBLOCK;
    Fd from(openQuietly(AT_FDCWD, source.c_str(), extra));
    if (from.get() < 0) throw POSIXFailure("open", source, errno);
    Fd to = platform::openRead(destination, O_NOFOLLOW | extra);
    if (to.get() < 0) throw POSIXFailure("open", destination, errno);
    applyMetadata(record, {from.get(), source}, {to.get(), destination}, source, times, trustOf(*this), "");
}

std::set<std::string> FileCopier::sidecarPaths(const std::vector<TreeEntry>& entries,
                                               const std::string& driveRoot) const {
    // The volume is asked only when there is a companion to leave out: asking reads the mount table.
    auto sidecars = sidecarsAmong(entries);
    if (sidecars.empty() || VolumeInfo::storesMetadataNatively(driveRoot)) return {};
    return sidecars;
}

std::set<std::string> FileCopier::sidecarsAmong(const std::vector<TreeEntry>& entries) {
    std::set<std::string> paths;
    for (const auto& entry : entries) paths.insert(entry.path);
    std::set<std::string> sidecars;
    for (const auto& entry : entries) {
        if (entry.kind != TreeEntry::Kind::file) continue;
        std::string name = lastComponent(entry.path);
        if (name.size() <= 2 || name.compare(0, 2, "._") != 0) continue;
        std::string parent = parentOf(entry.path);
        std::string companion = (parent.empty() ? "" : parent + "/") + name.substr(2);
        if (paths.count(companion)) sidecars.insert(entry.path);
    }
    return sidecars;
}

}  // namespace keldwick
