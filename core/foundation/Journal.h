#pragma once
// The durable record of every item moved or being moved: one row per item with its
// phase, the item's tree while it is needed, the event log, the pinned paths and the
// marks the program keeps across restarts. One SQLite database at user version 7, in WAL mode with full synchronous commits.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "foundation/Clock.h"
#include "foundation/JournalEvent.h"
#include "foundation/OffloadRecord.h"
#include "foundation/Phase.h"
#include "foundation/RecordedMetadata.h"
#include "foundation/SQLiteConnection.h"
#include "foundation/TreeManifest.h"

namespace keldwick {

// A named moment the program remembers across restarts, with a text of its own.
struct JournalMark {
    Date at;
    std::string value;
    bool operator==(const JournalMark&) const = default;
};

// Where one record's item is and where its copy goes: the few fields an index of the
// places records hold needs, read without the rest of each record.
struct RecordPlace {
    int64_t id = 0;
    Phase phase = Phase::offloadCopying;
    std::string originalPath;
    std::string driveRelativePath;
    bool operator==(const RecordPlace&) const = default;
};

class Journal {
public:
    static constexpr int64_t schemaVersion = 9;

    // Opens or creates the database at `path` (creating its folder) and brings its schema
    // to version 7; a later version is left as it is. Throws POSIXFailure ("mkdir") or
    // SQLiteError; nothing stays open on failure. Several processes may open one new file
    // at once: each migration step checks the version again inside its own transaction.
    // Every time the journal stamps (records, events, pins) is `clock`'s, which must be
    // given (std::invalid_argument when null).
    Journal(std::string path, std::shared_ptr<const Clock> clock,
            int busyTimeoutMilliseconds = SQLiteConnection::defaultBusyTimeoutMilliseconds);
    Journal(const Journal&) = delete;
    Journal& operator=(const Journal&) = delete;

    static std::shared_ptr<Journal> open(const std::string& path, std::shared_ptr<const Clock> clock);
    static std::shared_ptr<Journal> inMemory(std::shared_ptr<const Clock> clock);

    const std::string& path() const { return path_; }
    // The clock the journal stamps with; the engine working on the journal takes it too.
    const std::shared_ptr<const Clock>& clock() const { return clock_; }
    // The connection, for a caller's own statements inside transaction().
    SQLiteConnection& db() { return db_; }
    // Taken by every operation; recursive, so a caller may hold it across several. On a
    // thread that joined a Share, the share's own lock.
    std::recursive_mutex& lock();

    // A transaction on the journal's connection that holds the lock until it ends: "BEGIN
    // IMMEDIATE" when none is open, else a savepoint inside the open one, so that journal
    // operations that are transactions themselves nest. Rolled back when destroyed without
    // commit(); commit() throws SQLiteError after rolling back when it fails.
    class Transaction {
    public:
        explicit Transaction(Journal& journal);
        ~Transaction();
        Transaction(const Transaction&) = delete;
        Transaction& operator=(const Transaction&) = delete;
        void commit();

    private:
        void rollback() noexcept;
        Journal& journal_;
        std::unique_lock<std::recursive_mutex> guard_;
        std::optional<std::string> savepoint_;
        bool open_ = true;
    };

    // Runs body() in a Transaction, committing when it returns and rolling back when it throws.
    template <typename Body>
    auto transaction(Body&& body) -> std::invoke_result_t<Body&> {
        Transaction transaction(*this);
        if constexpr (std::is_void_v<std::invoke_result_t<Body&>>) {
            body();
            transaction.commit();
        } else {
            auto result = body();
            transaction.commit();
            return result;
        }
    }

    // Lets the threads of one pass share the transaction open on this journal, so that work
    // spread over threads still lands in one commit. While one lives, the operations of the
    // threads that joined it (its creator's included) run one at a time inside that
    // transaction, their own transactions as savepoints in it, and every other thread waits
    // as it waits for any transaction. Created on the thread that holds the open
    // transaction and ended before that commits; the threads leave before it ends.
    class Share {
    public:
        explicit Share(Journal& journal);
        ~Share();
        Share(const Share&) = delete;
        Share& operator=(const Share&) = delete;

        // Joins the calling thread for as long as it lives.
        class Member {
        public:
            explicit Member(Share& share);
            ~Member();
            Member(const Member&) = delete;
            Member& operator=(const Member&) = delete;

        private:
            const Journal* previous_;
        };

    private:
        Journal& journal_;
        std::unique_lock<std::recursive_mutex> hold_;
        const Journal* previous_;
    };

    // While one is alive, commits on this journal stay atomic and in order but don't each
    // wait for the medium: makeDurable(), or the end of the outermost scope, flushes all
    // of them at once. Only in write-ahead logging, where that order survives a power
    // cut; elsewhere, in memory, or when opened inside a transaction, commits stay
    // flushed one by one. Commits of other threads on this journal meanwhile are grouped
    // too. Opened and closed outside any transaction. For passes of many small changes, each safe to make again when
    // a power cut loses it; a change that must outlast a power cut before some step on
    // the file system calls makeDurable() first.
    class GroupCommit {
    public:
        explicit GroupCommit(Journal& journal);
        ~GroupCommit();
        GroupCommit(const GroupCommit&) = delete;
        GroupCommit& operator=(const GroupCommit&) = delete;

    private:
        Journal& journal_;
        bool grouping_ = false;
    };

    // Puts every commit so far on the medium; nothing to do outside a GroupCommit.
    // Throws SQLiteError when the flush fails.
    void makeDurable();

    // Writes the message to the system log, then appends it as an event. Never throws;
    // a failed insert is dropped.
    void log(const std::string& message, EventLevel level = EventLevel::info,
             std::optional<int64_t> recordID = std::nullopt) noexcept;

    // Inserts the record and returns it as stored, with its new id; createdAt defaults to
    // the insert time, which is also updatedAt.
    OffloadRecord insert(const NewRecord& record);
    // The same with the record's tree entries (none when absent), atomically.
    OffloadRecord insert(const NewRecord& record, const std::optional<std::vector<TreeEntry>>& entries);
    // insert() for a caller that already holds lock().
    OffloadRecord insertUnlocked(const NewRecord& record);

    // Nothing for an unknown id or a row that can't be read.
    std::optional<OffloadRecord> record(int64_t id);
    // The records in any of the phases, by ascending id; an empty set touches nothing.
    std::vector<OffloadRecord> records(const std::set<Phase>& phases);
    // Of those, the folders only: the journal leaves the files unread.
    std::vector<OffloadRecord> folderRecords(const std::set<Phase>& phases);
    std::vector<OffloadRecord> allRecords();
    // Hands `each` the place of every record of the drive in any of the phases with an id
    // above `afterID`, by ascending id, read in one pass of four columns without keeping
    // them (from `afterID` on, not over the whole table). `each` runs with lock() held.
    void places(const std::string& driveID, const std::set<Phase>& phases,
                const std::function<void(const RecordPlace&)>& each, int64_t afterID = 0);
    // The largest id a record has now; 0 when there is none.
    int64_t newestRecordID();

    // Taken before a read, tells a later reader whether it may keep what it read: two
    // stamps are equal only when nothing was committed in between, by this connection
    // (rows it changed) or by any other (SQLite's data version), and no table was changed
    // or renamed (the schema's version). Unequal stamps say nothing more than "maybe
    // changed". Throws SQLiteError.
    struct ChangeStamp {
        int64_t otherConnections = 0;
        int64_t ownChanges = 0;
        int64_t schema = 0;
        bool operator==(const ChangeStamp&) const = default;
    };
    ChangeStamp changeStamp();
    // The not-finished records whose original path is exactly `originalPath`, by id.
    std::vector<OffloadRecord> activeRecords(const std::string& originalPath);
    // The original paths whose records in phases not finished belong to more than one drive.
    std::set<std::string> pathsOfSeveralDrives();

    // Stores the checksum, the tree (absent entries: none), the moved item's identity
    // (see OffloadRecord) and what the item was beyond its content, and sets
    // "offload-verified", all or nothing.
    void markVerified(int64_t id, const std::string& checksum, const std::optional<std::vector<TreeEntry>>& entries,
                      const std::optional<std::string>& originalIdentity = std::nullopt,
                      const std::optional<RecordedMetadata>& metadata = std::nullopt);
    // What markVerified recorded beyond the content, with the modes and link groups of the
    // tree's entries; nothing for records written before it was kept and for adopted ones.
    std::optional<RecordedMetadata> recordedMetadata(int64_t id);
    // Sets phase, error (absent clears it) and update time; a finished phase also drops
    // the record's tree, in the same transaction. An unknown id changes nothing.
    void setPhase(int64_t id, Phase phase, const std::optional<std::string>& error = std::nullopt);
    // Leaves the update time as it is.
    void setRestoreChecksum(int64_t id, const std::string& checksum);
    // In manifest order; rows that can't be read are left out.
    std::vector<TreeEntry> treeEntries(int64_t id);
    // The same for many records in a few reads: each id that has a tree, with it.
    std::map<int64_t, std::vector<TreeEntry>> treeEntries(const std::vector<int64_t>& ids);

    // Pinned paths in byte order.
    std::vector<std::string> pins();
    // Pinning again keeps the first date.
    void pin(const std::string& path);
    void unpin(const std::string& path);
    // The newest `limit` events, newest first.
    std::vector<JournalEvent> events(int64_t limit);
    // The mark named `name`, or none; a row that can't be read counts as none.
    std::optional<JournalMark> mark(const std::string& name);
    // Sets (or replaces) the mark named `name`.
    void setMark(const std::string& name, const JournalMark& mark);

    // The warning logged when a database file did not take write-ahead logging, or nothing.
    static std::optional<std::string> journalModeWarning(const std::string& path, std::string_view mode);

private:
    void migrate();
    void dropFinishedTrees();
    // `modes`, `linkGroups`: the entries' modes and files' link groups by path, where
    // recorded; `sparse`: the bytes taken by the entries that had holes (the column stays
    // empty for the others).
    void replaceTreeEntries(const std::vector<TreeEntry>& entries, int64_t id,
                            const std::map<std::string, uint32_t>* modes = nullptr,
                            const std::map<std::string, int64_t>* linkGroups = nullptr,
                            const std::map<std::string, int64_t>* sparse = nullptr);
    // The records a "SELECT * FROM records ..." statement gives, in its order; rows that
    // can't be read as records are skipped. The caller holds the lock.
    std::vector<OffloadRecord> readRecords(const std::string& sql, const std::vector<SQLValue>& parameters);
    // The records in `phases` that also meet `andAlso` (" AND …", or empty), in id order.
    std::vector<OffloadRecord> recordsIn(const std::set<Phase>& phases, const std::string& andAlso);

    std::string path_;
    std::shared_ptr<const Clock> clock_;
    std::recursive_mutex lock_;
    std::recursive_mutex shareLock_;  // taken instead of lock_ by the members of a Share
    SQLiteConnection db_;
    int savepointDepth_ = 0;
    // Open GroupCommit scopes that relaxed the commits' flush.
    int groupDepth_ = 0;
};

}  // namespace keldwick
