#pragma once
// A stand-in for SQLite's file layer that plays out a power cut on a journal kept in a
// file. Every database file and write-ahead log opened through it is passed to the real
// layer, and its bytes are remembered as they stood at its last flush. With the power off
// it refuses every write, truncation, flush and deletion, so closing a journal then makes
// nothing more durable; putting the files back then leaves each as at its last flush, so a
// journal whose commits were grouped loses those not yet flushed, as it would.

#include <sqlite3.h>

#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>

namespace keldwick::test {

class PowerCutJournalFiles {
public:
    // SQLite's default file layer while the object lives: journals opened meanwhile go
    // through it, and must be closed before it goes. One at a time.
    PowerCutJournalFiles();
    ~PowerCutJournalFiles();
    PowerCutJournalFiles(const PowerCutJournalFiles&) = delete;
    PowerCutJournalFiles& operator=(const PowerCutJournalFiles&) = delete;

    // Asked before each change: true while the power is off.
    void powerIsOff(std::function<bool()> isOff);

    // Every file opened through the layer back to its bytes at its last flush (one never
    // flushed that didn't exist before goes), and the shared-memory index gone, as after a
    // restart. The journals on the files must be closed. The power is on again afterwards.
    void putBackDurableBytes();

    // Commits written to a write-ahead log so far, and those of them not yet flushed.
    int commits() const;
    int commitsNotDurable() const;

private:
    struct File;
    static int open(sqlite3_vfs* vfs, const char* name, sqlite3_file* file, int flags, int* outFlags);
    static int remove(sqlite3_vfs* vfs, const char* name, int syncDir);
    static int access(sqlite3_vfs* vfs, const char* name, int flags, int* result);
    static int fullPathname(sqlite3_vfs* vfs, const char* name, int size, char* out);
    static int randomness(sqlite3_vfs* vfs, int size, char* out);
    static int sleep(sqlite3_vfs* vfs, int microseconds);
    static int currentTime(sqlite3_vfs* vfs, double* now);
    static int lastError(sqlite3_vfs* vfs, int size, char* out);
    static int currentTimeInt64(sqlite3_vfs* vfs, sqlite3_int64* now);

    static int close(sqlite3_file* file);
    static int read(sqlite3_file* file, void* buffer, int size, sqlite3_int64 offset);
    static int write(sqlite3_file* file, const void* buffer, int size, sqlite3_int64 offset);
    static int truncate(sqlite3_file* file, sqlite3_int64 size);
    static int sync(sqlite3_file* file, int flags);
    static int fileSize(sqlite3_file* file, sqlite3_int64* size);
    static int lock(sqlite3_file* file, int level);
    static int unlock(sqlite3_file* file, int level);
    static int checkReservedLock(sqlite3_file* file, int* result);
    static int fileControl(sqlite3_file* file, int op, void* argument);
    static int sectorSize(sqlite3_file* file);
    static int deviceCharacteristics(sqlite3_file* file);
    static int shmMap(sqlite3_file* file, int region, int size, int extend, void volatile** mapped);
    static int shmLock(sqlite3_file* file, int offset, int count, int flags);
    static void shmBarrier(sqlite3_file* file);
    static int shmUnmap(sqlite3_file* file, int deleteFlag);

    static PowerCutJournalFiles& of(sqlite3_vfs* vfs);
    static File& of(sqlite3_file* file);
    bool off() const;
    void remember(const std::string& path);

    sqlite3_vfs* real_;
    sqlite3_vfs vfs_{};
    sqlite3_io_methods methods_{};
    std::function<bool()> isOff_;
    mutable std::mutex lock_;
    // Each file's bytes as at its last flush; nothing: it didn't exist then.
    std::map<std::string, std::optional<std::string>> durable_;
    int commits_ = 0;
    int durableCommits_ = 0;
};

}  // namespace keldwick::test
