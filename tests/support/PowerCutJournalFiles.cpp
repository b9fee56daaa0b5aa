#include "support/PowerCutJournalFiles.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <sstream>

namespace keldwick::test {

// The layer's own part of an open file; the real layer's part follows it in memory.
struct PowerCutJournalFiles::File {
    sqlite3_file base;
    PowerCutJournalFiles* owner;
    std::string* path;  // nothing for files not kept (temporary ones)
    bool log;
    sqlite3_file* real() { return reinterpret_cast<sqlite3_file*>(this + 1); }
};

namespace {

std::optional<std::string> bytesAt(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

PowerCutJournalFiles* active = nullptr;

}  // namespace

PowerCutJournalFiles::PowerCutJournalFiles() : real_(sqlite3_vfs_find(nullptr)) {
    if (active) throw std::logic_error("one PowerCutJournalFiles at a time");
    vfs_.iVersion = 2;
    vfs_.szOsFile = int(sizeof(File)) + real_->szOsFile;
    vfs_.mxPathname = real_->mxPathname;
    vfs_.zName = "keldwick-power-cut";
    vfs_.pAppData = this;
    vfs_.xOpen = &open;
    vfs_.xDelete = &remove;
    vfs_.xAccess = &access;
    vfs_.xFullPathname = &fullPathname;
    vfs_.xRandomness = &randomness;
    vfs_.xSleep = &sleep;
    vfs_.xCurrentTime = &currentTime;
    vfs_.xGetLastError = &lastError;
    vfs_.xCurrentTimeInt64 = &currentTimeInt64;

    methods_.iVersion = 2;  // with the shared-memory calls write-ahead logging needs, without memory mapping
    methods_.xClose = &close;
    methods_.xRead = &read;
    methods_.xWrite = &write;
    methods_.xTruncate = &truncate;
    methods_.xSync = &sync;
    methods_.xFileSize = &fileSize;
    methods_.xLock = &lock;
    methods_.xUnlock = &unlock;
    methods_.xCheckReservedLock = &checkReservedLock;
    methods_.xFileControl = &fileControl;
    methods_.xSectorSize = &sectorSize;
    methods_.xDeviceCharacteristics = &deviceCharacteristics;
    methods_.xShmMap = &shmMap;
    methods_.xShmLock = &shmLock;
    methods_.xShmBarrier = &shmBarrier;
    methods_.xShmUnmap = &shmUnmap;
    if (sqlite3_vfs_register(&vfs_, 1) != SQLITE_OK) throw std::runtime_error("couldn't register the file layer");
    active = this;
}

PowerCutJournalFiles::~PowerCutJournalFiles() {
    sqlite3_vfs_unregister(&vfs_);
    active = nullptr;
}

void PowerCutJournalFiles::powerIsOff(std::function<bool()> isOff) {
    std::lock_guard guard(lock_);
    isOff_ = std::move(isOff);
}

bool PowerCutJournalFiles::off() const { return isOff_ && isOff_(); }

int PowerCutJournalFiles::commits() const {
    std::lock_guard guard(lock_);
    return commits_;
}

int PowerCutJournalFiles::commitsNotDurable() const {
    std::lock_guard guard(lock_);
    return commits_ - durableCommits_;
}

void PowerCutJournalFiles::remember(const std::string& path) {
    std::lock_guard guard(lock_);
    if (!durable_.contains(path)) durable_.emplace(path, bytesAt(path));
}

void PowerCutJournalFiles::putBackDurableBytes() {
    std::lock_guard guard(lock_);
    for (const auto& [path, bytes] : durable_) {
        if (!bytes) {
            ::unlink(path.c_str());
            continue;
        }
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(bytes->data(), std::streamsize(bytes->size()));
        if (!out) ADD_FAILURE() << "couldn't put back the journal file " << path;
    }
    // The index of the log lives in shared memory and is rebuilt from the log at the next open.
    for (const auto& [path, bytes] : durable_)
        if (path.ends_with("-wal")) ::unlink((path.substr(0, path.size() - 4) + "-shm").c_str());
    isOff_ = nullptr;
    durableCommits_ = commits_;
}

PowerCutJournalFiles& PowerCutJournalFiles::of(sqlite3_vfs* vfs) { return *static_cast<PowerCutJournalFiles*>(vfs->pAppData); }

PowerCutJournalFiles::File& PowerCutJournalFiles::of(sqlite3_file* file) { return *reinterpret_cast<File*>(file); }

// --- The layer.

int PowerCutJournalFiles::open(sqlite3_vfs* vfs, const char* name, sqlite3_file* file, int flags, int* outFlags) {
    auto& self = of(vfs);
    auto& mine = of(file);
    mine.base.pMethods = nullptr;
    mine.owner = &self;
    mine.path = nullptr;
    mine.log = (flags & SQLITE_OPEN_WAL) != 0;
    const bool kept = name && (flags & (SQLITE_OPEN_MAIN_DB | SQLITE_OPEN_WAL));
    if (kept) {
        if (self.off() && (flags & SQLITE_OPEN_CREATE) && ::access(name, F_OK) != 0) return SQLITE_CANTOPEN;
        self.remember(name);
    }
    const int code = self.real_->xOpen(self.real_, name, mine.real(), flags, outFlags);
    if (code != SQLITE_OK) return code;
    if (kept) mine.path = new std::string(name);
    mine.base.pMethods = &self.methods_;
    return SQLITE_OK;
}

int PowerCutJournalFiles::remove(sqlite3_vfs* vfs, const char* name, int syncDir) {
    auto& self = of(vfs);
    if (self.off()) return SQLITE_IOERR_DELETE;
    const int code = self.real_->xDelete(self.real_, name, syncDir);
    std::lock_guard guard(self.lock_);
    if (code == SQLITE_OK && self.durable_.contains(name)) self.durable_[name] = std::nullopt;
    return code;
}

int PowerCutJournalFiles::access(sqlite3_vfs* vfs, const char* name, int flags, int* result) {
    return of(vfs).real_->xAccess(of(vfs).real_, name, flags, result);
}
int PowerCutJournalFiles::fullPathname(sqlite3_vfs* vfs, const char* name, int size, char* out) {
    return of(vfs).real_->xFullPathname(of(vfs).real_, name, size, out);
}
int PowerCutJournalFiles::randomness(sqlite3_vfs* vfs, int size, char* out) {
    return of(vfs).real_->xRandomness(of(vfs).real_, size, out);
}
int PowerCutJournalFiles::sleep(sqlite3_vfs* vfs, int microseconds) {
    return of(vfs).real_->xSleep(of(vfs).real_, microseconds);
}
int PowerCutJournalFiles::currentTime(sqlite3_vfs* vfs, double* now) {
    return of(vfs).real_->xCurrentTime(of(vfs).real_, now);
}
int PowerCutJournalFiles::lastError(sqlite3_vfs* vfs, int size, char* out) {
    return of(vfs).real_->xGetLastError(of(vfs).real_, size, out);
}
int PowerCutJournalFiles::currentTimeInt64(sqlite3_vfs* vfs, sqlite3_int64* now) {
    return of(vfs).real_->xCurrentTimeInt64(of(vfs).real_, now);
}

// --- Open files.

int PowerCutJournalFiles::close(sqlite3_file* file) {
    auto& mine = of(file);
    const int code = mine.real()->pMethods ? mine.real()->pMethods->xClose(mine.real()) : SQLITE_OK;
    delete mine.path;
    mine.path = nullptr;
    return code;
}

int PowerCutJournalFiles::read(sqlite3_file* file, void* buffer, int size, sqlite3_int64 offset) {
    return of(file).real()->pMethods->xRead(of(file).real(), buffer, size, offset);
}

int PowerCutJournalFiles::write(sqlite3_file* file, const void* buffer, int size, sqlite3_int64 offset) {
    auto& mine = of(file);
    auto& self = *mine.owner;
    if (self.off()) return SQLITE_IOERR_WRITE;
    const int code = mine.real()->pMethods->xWrite(mine.real(), buffer, size, offset);
    // A frame's 24-byte header, written on its own after the log's 32-byte header, holds
    // the database's size in pages at bytes 4-7 when the frame ends a commit.
    if (code == SQLITE_OK && mine.log && size == 24 && offset >= 32) {
        const auto* bytes = static_cast<const unsigned char*>(buffer);
        if (bytes[4] | bytes[5] | bytes[6] | bytes[7]) {
            std::lock_guard guard(self.lock_);
            ++self.commits_;
        }
    }
    return code;
}

int PowerCutJournalFiles::truncate(sqlite3_file* file, sqlite3_int64 size) {
    auto& mine = of(file);
    if (mine.owner->off()) return SQLITE_IOERR_TRUNCATE;
    return mine.real()->pMethods->xTruncate(mine.real(), size);
}

int PowerCutJournalFiles::sync(sqlite3_file* file, int flags) {
    auto& mine = of(file);
    auto& self = *mine.owner;
    if (self.off()) return SQLITE_IOERR_FSYNC;
    const int code = mine.real()->pMethods->xSync(mine.real(), flags);
    if (code != SQLITE_OK || !mine.path) return code;
    std::lock_guard guard(self.lock_);
    self.durable_[*mine.path] = bytesAt(*mine.path);
    if (mine.log) self.durableCommits_ = self.commits_;
    return code;
}

int PowerCutJournalFiles::fileSize(sqlite3_file* file, sqlite3_int64* size) {
    return of(file).real()->pMethods->xFileSize(of(file).real(), size);
}
int PowerCutJournalFiles::lock(sqlite3_file* file, int level) {
    return of(file).real()->pMethods->xLock(of(file).real(), level);
}
int PowerCutJournalFiles::unlock(sqlite3_file* file, int level) {
    return of(file).real()->pMethods->xUnlock(of(file).real(), level);
}
int PowerCutJournalFiles::checkReservedLock(sqlite3_file* file, int* result) {
    return of(file).real()->pMethods->xCheckReservedLock(of(file).real(), result);
}
int PowerCutJournalFiles::fileControl(sqlite3_file* file, int op, void* argument) {
    return of(file).real()->pMethods->xFileControl(of(file).real(), op, argument);
}
int PowerCutJournalFiles::sectorSize(sqlite3_file* file) {
    return of(file).real()->pMethods->xSectorSize(of(file).real());
}
int PowerCutJournalFiles::deviceCharacteristics(sqlite3_file* file) {
    return of(file).real()->pMethods->xDeviceCharacteristics(of(file).real());
}
int PowerCutJournalFiles::shmMap(sqlite3_file* file, int region, int size, int extend, void volatile** mapped) {
    return of(file).real()->pMethods->xShmMap(of(file).real(), region, size, extend, mapped);
}
int PowerCutJournalFiles::shmLock(sqlite3_file* file, int offset, int count, int flags) {
    return of(file).real()->pMethods->xShmLock(of(file).real(), offset, count, flags);
}
void PowerCutJournalFiles::shmBarrier(sqlite3_file* file) { of(file).real()->pMethods->xShmBarrier(of(file).real()); }
int PowerCutJournalFiles::shmUnmap(sqlite3_file* file, int deleteFlag) {
    return of(file).real()->pMethods->xShmUnmap(of(file).real(), deleteFlag);
}

}  // namespace keldwick::test
