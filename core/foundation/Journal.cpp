#include "foundation/Journal.h"

#include <sqlite3.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <stdexcept>
#include <string_view>
#include <thread>
#include <utility>

#include "foundation/FileOps.h"
#include "foundation/Formatting.h"
#include "foundation/Log.h"
#include "platform/POSIXFailure.h"

namespace keldwick {

namespace {

constexpr const char* logCategory = "journal";

// The migration scripts are stored and run exactly as first written; each ends by setting
// the user version, inside its step's transaction.
constexpr const char* migrationScripts[] = {
    "CREATE TABLE records (\n"
    "    id INTEGER PRIMARY KEY AUTOINCREMENT,\n"
    "    original_path TEXT NOT NULL,\n"
    "    drive_id TEXT NOT NULL,\n"
    "    drive_relative_path TEXT NOT NULL,\n"
    "    is_directory INTEGER NOT NULL,\n"
    "    size INTEGER NOT NULL,\n"
    "    checksum TEXT,\n"
    "    phase TEXT NOT NULL,\n"
    "    last_used REAL,\n"
    "    created_at REAL NOT NULL,\n"
    "    updated_at REAL NOT NULL,\n"
    "    error TEXT\n"
    ");\n"
    "CREATE INDEX records_phase ON records(phase);\n"
    "CREATE INDEX records_original_path ON records(original_path);\n"
    "CREATE TABLE tree_entries (\n"
    "    record_id INTEGER NOT NULL REFERENCES records(id) ON DELETE CASCADE,\n"
    "    position INTEGER NOT NULL,\n"
    "    path TEXT NOT NULL,\n"
    "    kind TEXT NOT NULL,\n"
    "    size INTEGER NOT NULL,\n"
    "    sha256 TEXT,\n"
    "    PRIMARY KEY (record_id, path)\n"
    ");\n"
    "CREATE TABLE events (\n"
    "    id INTEGER PRIMARY KEY AUTOINCREMENT,\n"
    "    record_id INTEGER,\n"
    "    at REAL NOT NULL,\n"
    "    level TEXT NOT NULL,\n"
    "    message TEXT NOT NULL\n"
    ");\n"
    "PRAGMA user_version = 1;",

    "CREATE TABLE pins (\n"
    "    path TEXT PRIMARY KEY,\n"
    "    created_at REAL NOT NULL\n"
    ");\n"
    "PRAGMA user_version = 2;",

    "ALTER TABLE records ADD COLUMN restore_checksum TEXT;\n"
    "PRAGMA user_version = 3;",

    "ALTER TABLE tree_entries ADD COLUMN target TEXT;\n"
    "PRAGMA user_version = 4;",

    "CREATE TEMP TABLE kept_entries AS SELECT * FROM tree_entries WHERE record_id IN\n"
    "  (SELECT id FROM records WHERE phase NOT IN ('restored', 'abandoned', 'superseded'));\n"
    "DELETE FROM tree_entries;\n"
    "INSERT INTO tree_entries SELECT * FROM kept_entries;\n"
    "DROP TABLE kept_entries;\n"
    "PRAGMA user_version = 5;",

    "ALTER TABLE records ADD COLUMN original_identity TEXT;\n"
    "PRAGMA user_version = 6;",

    "CREATE TABLE marks (\n"
    "    name TEXT PRIMARY KEY,\n"
    "    at REAL NOT NULL,\n"
    "    value TEXT NOT NULL DEFAULT ''\n"
    ");\n"
    "PRAGMA user_version = 7;",

    "ALTER TABLE records ADD COLUMN mode INTEGER;\n"
    "ALTER TABLE records ADD COLUMN uid INTEGER;\n"
    "ALTER TABLE records ADD COLUMN gid INTEGER;\n"
    "ALTER TABLE records ADD COLUMN metadata_digest TEXT;\n"
    "ALTER TABLE records ADD COLUMN sparse INTEGER;\n"
    "ALTER TABLE tree_entries ADD COLUMN mode INTEGER;\n"
    "ALTER TABLE tree_entries ADD COLUMN link_group INTEGER;\n"
    "ALTER TABLE tree_entries ADD COLUMN sparse INTEGER;\n"
    "PRAGMA user_version = 8;",

    "ALTER TABLE records ADD COLUMN acl_digest TEXT;\n"
    "PRAGMA user_version = 9;",
};

constexpr const char* insertEventSQL = "INSERT INTO events (record_id, at, level, message) VALUES (?, ?, ?, ?)";
constexpr const char* insertRecordSQL =
    "INSERT INTO records (original_path, drive_id, drive_relative_path, is_directory, size,\n"
    "                     checksum, phase, last_used, created_at, updated_at)\n"
    "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?)";
constexpr const char* selectRecordSQL = "SELECT * FROM records WHERE id = ?";
constexpr const char* deleteTreeSQL = "DELETE FROM tree_entries WHERE record_id = ?";
constexpr const char* insertTreeSQL =
    "INSERT INTO tree_entries (record_id, position, path, kind, size, sha256, target, mode, link_group, sparse)\n"
    "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?)";

SQLValue textOrNull(const std::optional<std::string>& text) {
    if (text) return *text;
    return nullptr;
}

SQLValue dateOrNull(const std::optional<Date>& date) {
    if (date) return date->secondsSince1970;
    return nullptr;
}

std::optional<std::string> text(const SQLValue& value) {
    if (const auto* s = std::get_if<std::string>(&value)) return *s;
    return std::nullopt;
}

std::optional<int64_t> integer(const SQLValue& value) {
    if (const auto* i = std::get_if<int64_t>(&value)) return *i;
    return std::nullopt;
}

// REAL seconds, or INTEGER taken as whole seconds.
std::optional<Date> date(const SQLValue& value) {
    if (const auto* d = std::get_if<double>(&value)) return Date{*d};
    if (const auto* i = std::get_if<int64_t>(&value)) return Date{static_cast<double>(*i)};
    return std::nullopt;
}

// Decodes rows of "SELECT * FROM records". The columns are looked up by name on the first
// row only, then every row is read by position: a read of 100,000 records otherwise spends
// much of its time comparing column names.
class RecordDecoder {
public:
    std::optional<OffloadRecord> operator()(const SQLRow& row) {
        if (row.names != names_) locate(row);
        auto id = integer(at(row, Column::id));
        auto originalPath = text(at(row, Column::originalPath));
        auto driveID = text(at(row, Column::driveID));
        auto driveRelativePath = text(at(row, Column::driveRelativePath));
        const auto* phaseText = std::get_if<std::string>(&at(row, Column::phase));
        auto phase = phaseText ? parsePhase(*phaseText) : std::nullopt;
        auto createdAt = date(at(row, Column::createdAt));
        auto updatedAt = date(at(row, Column::updatedAt));
        if (!id || !originalPath || !driveID || !driveRelativePath || !phase || !createdAt || !updatedAt) {
            return std::nullopt;
        }
        OffloadRecord record;
        record.id = *id;
        record.originalPath = std::move(*originalPath);
        record.driveID = std::move(*driveID);
        record.driveRelativePath = std::move(*driveRelativePath);
        record.isDirectory = integer(at(row, Column::isDirectory)).value_or(0) != 0;
        record.size = integer(at(row, Column::size)).value_or(0);
        record.checksum = text(at(row, Column::checksum));
        record.phase = *phase;
        record.lastUsed = date(at(row, Column::lastUsed));
        record.createdAt = *createdAt;
        record.updatedAt = *updatedAt;
        record.error = text(at(row, Column::error));
        record.restoreChecksum = text(at(row, Column::restoreChecksum));
        record.originalIdentity = text(at(row, Column::originalIdentity));
        return record;
    }

private:
    enum class Column {
        id, originalPath, driveID, driveRelativePath, isDirectory, size, checksum, phase, lastUsed,
        createdAt, updatedAt, error, restoreChecksum, originalIdentity, count
    };
    static constexpr std::array<std::string_view, size_t(Column::count)> columnNames{
        "id", "original_path", "drive_id", "drive_relative_path", "is_directory", "size", "checksum", "phase",
        "last_used", "created_at", "updated_at", "error", "restore_checksum", "original_identity"};
    static constexpr size_t absent = SIZE_MAX;

    void locate(const SQLRow& row) {
        names_ = row.names;
        positions_.fill(absent);
        if (!names_) return;
        // Where two columns share a name the later one wins, as SQLRow's lookup by name.
        for (size_t c = 0; c < names_->size(); ++c)
            for (size_t n = 0; n < columnNames.size(); ++n)
                if ((*names_)[c] == columnNames[n]) positions_[n] = c;
    }
    const SQLValue& at(const SQLRow& row, Column column) const {
        static const SQLValue null = nullptr;
        const size_t c = positions_[size_t(column)];
        return c < row.values.size() ? row.values[c] : null;
    }

    std::shared_ptr<const std::vector<std::string>> names_;
    std::array<size_t, size_t(Column::count)> positions_{};
};

std::optional<OffloadRecord> decodeRecord(const SQLRow& row) { return RecordDecoder{}(row); }

std::optional<TreeEntry> decodeTreeEntry(const SQLRow& row) {
    auto path = text(row["path"]);
    auto kindText = text(row["kind"]);
    auto kind = kindText ? parseTreeEntryKind(*kindText) : std::nullopt;
    if (!path || !kind) return std::nullopt;
    return TreeEntry{std::move(*path), *kind, integer(row["size"]).value_or(0), text(row["sha256"]),
                     text(row["target"])};
}

std::optional<JournalEvent> decodeEvent(const SQLRow& row) {
    auto id = integer(row["id"]);
    auto at = date(row["at"]);
    auto message = text(row["message"]);
    if (!id || !at || !message) return std::nullopt;
    auto levelText = text(row["level"]);
    auto level = levelText ? parseEventLevel(*levelText) : std::nullopt;
    return JournalEvent{*id, integer(row["record_id"]), *at, level.value_or(EventLevel::info), std::move(*message)};
}

// Creates the database's folder first; SQLite creates only the file.
std::string preparedPath(const std::string& path) {
    if (path == ":memory:") return path;
    const auto slash = path.rfind('/');
    if (slash == std::string::npos || slash == 0) return path;
    createDirectory(path.substr(0, slash));
    return path;
}

// Sets WAL mode and returns the mode now in effect. Switching a new file needs an
// exclusive lock, and SQLite reports a conflict with another connection doing the same
// at once as busy without waiting (waiting could deadlock), so that is retried here for
// as long as the busy timeout would have waited.
std::string switchToWriteAheadLogging(SQLiteConnection& db, int busyTimeoutMilliseconds) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(busyTimeoutMilliseconds);
    for (;;) {
        try {
            auto rows = db.query("PRAGMA journal_mode = WAL");
            return rows.empty() ? "" : text(rows.front()["journal_mode"]).value_or("");
        } catch (const SQLiteError& error) {
            if (error.code() != SQLITE_BUSY || Clock::now() >= deadline) throw;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

void execIgnoringFailure(SQLiteConnection& db, const char* sql) noexcept {
    try {
        db.exec(sql);
    } catch (...) {
        // The caller is already on a failure or clean-up road; the first failure counts.
    }
}

// A journal stamps everything it keeps: without the caller's clock its times would be
// another's.
std::shared_ptr<const Clock> requireClock(std::shared_ptr<const Clock> clock) {
    if (!clock) throw std::invalid_argument("the journal needs a clock");
    return clock;
}

}  // namespace

// MARK: Opening

Journal::Journal(std::string path, std::shared_ptr<const Clock> clock, int busyTimeoutMilliseconds)
    : path_(std::move(path)), clock_(requireClock(std::move(clock))), db_(preparedPath(path_), busyTimeoutMilliseconds) {
    const std::string mode = switchToWriteAheadLogging(db_, busyTimeoutMilliseconds);
    db_.exec("PRAGMA synchronous = FULL");
    db_.exec("PRAGMA foreign_keys = ON");
    migrate();
    if (auto warning = journalModeWarning(path_, mode)) log(*warning, EventLevel::warning);
}

std::shared_ptr<Journal> Journal::open(const std::string& path, std::shared_ptr<const Clock> clock) {
    return std::make_shared<Journal>(path, std::move(clock));
}

std::shared_ptr<Journal> Journal::inMemory(std::shared_ptr<const Clock> clock) { return open(":memory:", std::move(clock)); }

std::optional<std::string> Journal::journalModeWarning(const std::string& path, std::string_view mode) {
    if (path == ":memory:" || mode == "wal") return std::nullopt;
    return "The journal at " + quoted(path) + " runs in " + quoted(mode) +
           " mode instead of write-ahead logging, so a crash may lose its latest changes.";
}

void Journal::migrate() {
    std::lock_guard guard(lock());
    // Each step checks the version again once it holds the write lock, so a second
    // process opening the same new file skips what the first has done.
    for (int64_t step = 1; step <= schemaVersion; ++step) {
        if (db_.userVersion() > step - 1) continue;
        if (step == 5) {
            dropFinishedTrees();
            continue;
        }
        db_.exec("BEGIN IMMEDIATE");
        try {
            if (db_.userVersion() <= step - 1) db_.exec(migrationScripts[step - 1]);
            db_.exec("COMMIT");
        } catch (...) {
            execIgnoringFailure(db_, "ROLLBACK");
            throw;
        }
    }
}

// Step 5 drops the trees of finished records and compacts the file; foreign keys can
// only be switched off outside a transaction.
void Journal::dropFinishedTrees() {
    db_.exec("PRAGMA foreign_keys = OFF");
    try {
        db_.exec("BEGIN IMMEDIATE");
    } catch (...) {
        execIgnoringFailure(db_, "PRAGMA foreign_keys = ON");
        throw;
    }
    bool migrated = false;
    try {
        if (db_.userVersion() <= 4) {
            db_.exec(migrationScripts[4]);
            migrated = true;
        }
        db_.exec("COMMIT");
    } catch (...) {
        execIgnoringFailure(db_, "ROLLBACK");
        execIgnoringFailure(db_, "PRAGMA foreign_keys = ON");
        throw;
    }
    if (migrated) {
        execIgnoringFailure(db_, "VACUUM");
        execIgnoringFailure(db_, "PRAGMA wal_checkpoint(TRUNCATE)");
    }
    execIgnoringFailure(db_, "PRAGMA foreign_keys = ON");
}

// MARK: Transactions

namespace {

// The journal whose Share the calling thread joined, if any.
thread_local const Journal* joinedJournal = nullptr;

}  // namespace

std::recursive_mutex& Journal::lock() { return joinedJournal == this ? shareLock_ : lock_; }

Journal::Share::Share(Journal& journal) : journal_(journal), hold_(journal.lock_), previous_(joinedJournal) {
    joinedJournal = &journal_;
}

Journal::Share::~Share() { joinedJournal = previous_; }

Journal::Share::Member::Member(Share& share) : previous_(joinedJournal) { joinedJournal = &share.journal_; }

Journal::Share::Member::~Member() { joinedJournal = previous_; }

Journal::Transaction::Transaction(Journal& journal) : journal_(journal), guard_(journal.lock()) {
    auto& db = journal_.db_;
    if (db.inTransaction()) {
        savepoint_ = "keldwick_" + std::to_string(++journal_.savepointDepth_);
        try {
            db.exec("SAVEPOINT " + *savepoint_);
        } catch (...) {
            --journal_.savepointDepth_;
            throw;
        }
    } else {
        db.exec("BEGIN IMMEDIATE");
    }
}

Journal::Transaction::~Transaction() {
    if (open_) rollback();
}

void Journal::Transaction::commit() {
    if (!open_) return;
    try {
        journal_.db_.exec(savepoint_ ? "RELEASE " + *savepoint_ : std::string("COMMIT"));
    } catch (...) {
        rollback();
        throw;
    }
    open_ = false;
    if (savepoint_) --journal_.savepointDepth_;
}

void Journal::Transaction::rollback() noexcept {
    open_ = false;
    auto& db = journal_.db_;
    if (savepoint_) {
        // Rolling back to the savepoint keeps the enclosing transaction; releasing it then
        // removes the savepoint itself. Either fails only when SQLite already rolled back.
        try {
            db.exec("ROLLBACK TO " + *savepoint_ + "; RELEASE " + *savepoint_);
        } catch (...) {
        }
        --journal_.savepointDepth_;
    } else {
        execIgnoringFailure(db, "ROLLBACK");
    }
}

// MARK: Group commits

Journal::GroupCommit::GroupCommit(Journal& journal) : journal_(journal) {
    std::lock_guard guard(journal_.lock());
    auto& db = journal_.db_;
    if (journal_.groupDepth_ > 0) {
        grouping_ = true;
        ++journal_.groupDepth_;
        return;
    }
    if (journal_.path_ == ":memory:" || db.inTransaction()) return;
    try {
        auto rows = db.query("PRAGMA journal_mode");
        if (rows.empty() || text(rows.front()["journal_mode"]).value_or("") != "wal") return;
        // In write-ahead logging a commit only appends to the log, so commits that a power
        // cut loses are always the latest ones, never some earlier one alone.
        db.exec("PRAGMA synchronous = NORMAL");
    } catch (const std::exception& error) {
        Log::error(logCategory, std::string("Couldn't group the journal's commits: ") + error.what());
        return;
    }
    grouping_ = true;
    journal_.groupDepth_ = 1;
}

Journal::GroupCommit::~GroupCommit() {
    if (!grouping_) return;
    std::lock_guard guard(journal_.lock());
    if (--journal_.groupDepth_ > 0) return;
    try {
        journal_.db_.exec("PRAGMA synchronous = FULL");
    } catch (const std::exception& error) {
        Log::error(logCategory, std::string("Couldn't flush the journal's commits one by one again: ") + error.what());
    }
    try {
        journal_.db_.flushWriteAheadLog();
    } catch (const std::exception& error) {
        Log::error(logCategory, std::string("Couldn't flush the journal: ") + error.what());
    }
}

void Journal::makeDurable() {
    std::lock_guard guard(lock());
    if (groupDepth_ > 0) db_.flushWriteAheadLog();
}

// MARK: Events

void Journal::log(const std::string& message, EventLevel level, std::optional<int64_t> recordID) noexcept {
    Log::write(level == EventLevel::info ? Log::Level::info : Log::Level::error, logCategory, message);
    try {
        std::lock_guard guard(lock());
        db_.run(insertEventSQL, {recordID ? SQLValue(*recordID) : SQLValue(nullptr), clock_->now().secondsSince1970,
                                 std::string(toString(level)), message});
    } catch (...) {
        // The event log is history, not state: callers log from their own failure roads
        // and must not fail because the log can't be written.
    }
}

std::vector<JournalEvent> Journal::events(int64_t limit) {
    std::lock_guard guard(lock());
    std::vector<JournalEvent> events;
    for (const auto& row : db_.query("SELECT * FROM events ORDER BY id DESC LIMIT ?", {limit})) {
        if (auto event = decodeEvent(row)) events.push_back(std::move(*event));
    }
    return events;
}

std::optional<JournalMark> Journal::mark(const std::string& name) {
    std::lock_guard guard(lock());
    const auto rows = db_.query("SELECT at, value FROM marks WHERE name = ?", {name});
    if (rows.empty()) return std::nullopt;
    auto at = date(rows[0]["at"]);
    auto value = text(rows[0]["value"]);
    if (!at || !value) return std::nullopt;
    return JournalMark{*at, std::move(*value)};
}

void Journal::setMark(const std::string& name, const JournalMark& mark) {
    std::lock_guard guard(lock());
    db_.run("INSERT OR REPLACE INTO marks (name, at, value) VALUES (?, ?, ?)",
            {name, mark.at.secondsSince1970, mark.value});
}

// MARK: Records

OffloadRecord Journal::insertUnlocked(const NewRecord& record) {
    const double now = clock_->now().secondsSince1970;
    const int64_t id = db_.run(insertRecordSQL, {
                                                    record.originalPath,
                                                    record.driveID,
                                                    record.driveRelativePath,
                                                    int64_t(record.isDirectory ? 1 : 0),
                                                    record.size,
                                                    textOrNull(record.checksum),
                                                    std::string(toString(record.phase)),
                                                    dateOrNull(record.lastUsed),
                                                    record.createdAt ? record.createdAt->secondsSince1970 : now,
                                                    now,
                                                });
    auto rows = db_.query(selectRecordSQL, {id});
    auto stored = rows.empty() ? std::nullopt : decodeRecord(rows.front());
    if (!stored) throw SQLiteError(0, "insert lost");
    return *stored;
}

OffloadRecord Journal::insert(const NewRecord& record) {
    std::lock_guard guard(lock());
    return insertUnlocked(record);
}

OffloadRecord Journal::insert(const NewRecord& record, const std::optional<std::vector<TreeEntry>>& entries) {
    // One transaction (a savepoint inside a caller's), so that the record never stands
    // without its tree.
    return transaction([&] {
        auto stored = insertUnlocked(record);
        replaceTreeEntries(entries.value_or(std::vector<TreeEntry>{}), stored.id);
        return stored;
    });
}

std::optional<OffloadRecord> Journal::record(int64_t id) {
    std::lock_guard guard(lock());
    auto rows = db_.query(selectRecordSQL, {id});
    if (rows.empty()) return std::nullopt;
    return decodeRecord(rows.front());
}

std::vector<OffloadRecord> Journal::readRecords(const std::string& sql, const std::vector<SQLValue>& parameters) {
    // Each row is decoded as it is stepped to: the rows are never all held besides the records.
    std::vector<OffloadRecord> records;
    RecordDecoder decode;
    db_.queryEach(sql, parameters, [&](const SQLRow& row) {
        if (auto record = decode(row)) records.push_back(std::move(*record));
    });
    return records;
}

namespace {

// "?,?,…" for the phases, and the phases as parameters.
std::pair<std::string, std::vector<SQLValue>> phaseParameters(const std::set<Phase>& phases) {
    std::string placeholders;
    std::vector<SQLValue> parameters;
    for (Phase phase : phases) {
        if (!placeholders.empty()) placeholders += ",";
        placeholders += "?";
        parameters.emplace_back(std::string(toString(phase)));
    }
    return {std::move(placeholders), std::move(parameters)};
}

}  // namespace

std::vector<OffloadRecord> Journal::records(const std::set<Phase>& phases) { return recordsIn(phases, ""); }

std::vector<OffloadRecord> Journal::folderRecords(const std::set<Phase>& phases) {
    // A folder as the records' decoding reads one: a non-zero integer.
    return recordsIn(phases, " AND typeof(is_directory) = 'integer' AND is_directory <> 0");
}

std::vector<OffloadRecord> Journal::recordsIn(const std::set<Phase>& phases, const std::string& andAlso) {
    if (phases.empty()) return {};
    auto [placeholders, parameters] = phaseParameters(phases);
    std::lock_guard guard(lock());
    // The ids from the phase index alone, then the rows in id order: looking each row up
    // from the index and sorting the rows after would read the table once per phase and
    // spill the sort to a temporary file when many records match.
    return readRecords("SELECT * FROM records WHERE id IN (SELECT id FROM records WHERE phase IN (" + placeholders +
                           "))" + andAlso + " ORDER BY id",
                       parameters);
}

void Journal::places(const std::string& driveID, const std::set<Phase>& phases,
                     const std::function<void(const RecordPlace&)>& each, int64_t afterID) {
    if (phases.empty()) return;
    std::string placeholders;
    std::vector<SQLValue> parameters{afterID, driveID};
    for (Phase phase : phases) {
        if (!placeholders.empty()) placeholders += ",";
        placeholders += "?";
        parameters.emplace_back(std::string(toString(phase)));
    }
    std::lock_guard guard(lock());
    RecordPlace place;
    // One pass over the table in id order ("+phase": its index would cost a lookup and a
    // sort per row, and most records are active).
    db_.queryEach(
        "SELECT id, phase, original_path, drive_relative_path FROM records WHERE id > ? AND drive_id = ? AND "
        "+phase IN (" + placeholders + ") ORDER BY id",
        parameters, [&](const SQLRow& row) {
            auto id = integer(row.values[0]);
            auto phase = std::get_if<std::string>(&row.values[1]);
            auto original = std::get_if<std::string>(&row.values[2]);
            auto relative = std::get_if<std::string>(&row.values[3]);
            auto parsed = phase ? parsePhase(*phase) : std::nullopt;
            if (!id || !parsed || !original || !relative) return;
            place.id = *id;
            place.phase = *parsed;
            place.originalPath.assign(*original);
            place.driveRelativePath.assign(*relative);
            each(place);
        });
}

std::vector<OffloadRecord> Journal::allRecords() {
    std::lock_guard guard(lock());
    return readRecords("SELECT * FROM records ORDER BY id", {});
}

int64_t Journal::newestRecordID() {
    std::lock_guard guard(lock());
    auto rows = db_.query("SELECT max(id) FROM records");
    return rows.empty() ? 0 : integer(rows.front().values.at(0)).value_or(0);
}

Journal::ChangeStamp Journal::changeStamp() {
    std::lock_guard guard(lock());
    auto pragma = [this](const char* name) {
        auto rows = db_.query(std::string("PRAGMA ") + name);
        return rows.empty() ? 0 : integer(rows.front().values.at(0)).value_or(0);
    };
    ChangeStamp stamp;
    stamp.otherConnections = pragma("data_version");
    stamp.ownChanges = db_.totalChanges();
    stamp.schema = pragma("schema_version");
    return stamp;
}

std::vector<OffloadRecord> Journal::activeRecords(const std::string& originalPath) {
    std::lock_guard guard(lock());
    auto records = readRecords("SELECT * FROM records WHERE original_path = ? ORDER BY id", {originalPath});
    std::erase_if(records, [](const OffloadRecord& r) { return isFinished(r.phase); });
    return records;
}

std::set<std::string> Journal::pathsOfSeveralDrives() {
    std::string placeholders;
    std::vector<SQLValue> parameters;
    for (Phase phase : allPhases) {
        if (!isFinished(phase)) continue;
        if (!placeholders.empty()) placeholders += ",";
        placeholders += "?";
        parameters.emplace_back(std::string(toString(phase)));
    }
    std::lock_guard guard(lock());
    std::set<std::string> paths;
    for (const auto& row : db_.query("SELECT original_path FROM records WHERE phase NOT IN (" + placeholders +
                                         ") GROUP BY original_path HAVING COUNT(DISTINCT drive_id) > 1",
                                     parameters))
        if (auto path = text(row["original_path"])) paths.insert(std::move(*path));
    return paths;
}

void Journal::markVerified(int64_t id, const std::string& checksum,
                           const std::optional<std::vector<TreeEntry>>& entries,
                           const std::optional<std::string>& originalIdentity,
                           const std::optional<RecordedMetadata>& metadata) {
    auto number = [&](auto value) -> SQLValue {
        if (metadata) return static_cast<int64_t>(value(*metadata));
        return nullptr;
    };
    transaction([&] {
        db_.run("UPDATE records SET checksum = ?, original_identity = ?, phase = ?, updated_at = ?, mode = ?, uid = ?,"
                " gid = ?, metadata_digest = ?, acl_digest = ? WHERE id = ?",
                {checksum, textOrNull(originalIdentity), std::string(toString(Phase::offloadVerified)),
                 clock_->now().secondsSince1970, number([](const auto& m) { return m.mode; }),
                 number([](const auto& m) { return m.uid; }), number([](const auto& m) { return m.gid; }),
                 metadata ? SQLValue(metadata->digest) : SQLValue(nullptr),
                 metadata && !metadata->aclDigest.empty() ? SQLValue(metadata->aclDigest) : SQLValue(nullptr), id});
        // A file item's holes are its own; a folder's are its entries'.
        const auto itself = metadata ? metadata->sparseEntries.find("") : std::map<std::string, int64_t>::const_iterator{};
        db_.run("UPDATE records SET sparse = ? WHERE id = ?",
                {metadata && itself != metadata->sparseEntries.end() ? SQLValue(itself->second) : SQLValue(nullptr), id});
        replaceTreeEntries(entries.value_or(std::vector<TreeEntry>{}), id,
                           metadata ? &metadata->entryModes : nullptr, metadata ? &metadata->linkGroups : nullptr,
                           metadata ? &metadata->sparseEntries : nullptr);
    });
}

std::optional<RecordedMetadata> Journal::recordedMetadata(int64_t id) {
    std::lock_guard guard(lock());
    auto rows =
        db_.query("SELECT mode, uid, gid, metadata_digest, acl_digest, sparse FROM records WHERE id = ?", {id});
    if (rows.empty()) return std::nullopt;
    auto mode = integer(rows.front()["mode"]);
    auto uid = integer(rows.front()["uid"]);
    auto gid = integer(rows.front()["gid"]);
    auto digest = text(rows.front()["metadata_digest"]);
    // Records written before modes were kept, and adopted ones, have none.
    if (!mode || !uid || !gid || !digest) return std::nullopt;
    RecordedMetadata metadata{static_cast<uint32_t>(*mode), static_cast<uint32_t>(*uid), static_cast<uint32_t>(*gid),
                              std::move(*digest), {}, {}, {}, text(rows.front()["acl_digest"]).value_or("")};
    if (auto sparse = integer(rows.front()["sparse"])) metadata.sparseEntries.emplace("", *sparse);
    for (const auto& row : db_.query("SELECT path, mode, link_group, sparse FROM tree_entries WHERE record_id = ? AND"
                                     " (mode IS NOT NULL OR link_group IS NOT NULL OR sparse IS NOT NULL)",
                                     {id})) {
        auto path = text(row["path"]);
        if (!path) continue;
        if (auto entryMode = integer(row["mode"])) metadata.entryModes.emplace(*path, static_cast<uint32_t>(*entryMode));
        if (auto group = integer(row["link_group"])) metadata.linkGroups.emplace(*path, *group);
        if (auto sparse = integer(row["sparse"])) metadata.sparseEntries.emplace(*path, *sparse);
    }
    // The item itself is no entry of its tree.
    metadata.entryModes.emplace("", metadata.mode);
    return metadata;
}

void Journal::setPhase(int64_t id, Phase phase, const std::optional<std::string>& error) {
    auto update = [&] {
        db_.run("UPDATE records SET phase = ?, error = ?, updated_at = ? WHERE id = ?",
                {std::string(toString(phase)), textOrNull(error), clock_->now().secondsSince1970, id});
    };
    if (!isFinished(phase)) {
        std::lock_guard guard(lock());
        update();
        return;
    }
    // The phase and the dropped tree land together: a failure leaves both as they were.
    transaction([&] {
        update();
        db_.run(deleteTreeSQL, {id});
    });
}

void Journal::setRestoreChecksum(int64_t id, const std::string& checksum) {
    std::lock_guard guard(lock());
    db_.run("UPDATE records SET restore_checksum = ? WHERE id = ?", {checksum, id});
}

void Journal::replaceTreeEntries(const std::vector<TreeEntry>& entries, int64_t id,
                                 const std::map<std::string, uint32_t>* modes,
                                 const std::map<std::string, int64_t>* linkGroups,
                                 const std::map<std::string, int64_t>* sparse) {
    db_.run(deleteTreeSQL, {id});
    int64_t position = 0;
    for (const auto& entry : entries) {
        SQLValue mode = nullptr;
        if (modes) {
            auto found = modes->find(entry.path);
            if (found != modes->end()) mode = static_cast<int64_t>(found->second);
        }
        SQLValue group = nullptr;
        if (linkGroups && entry.kind == TreeEntry::Kind::file) {
            auto found = linkGroups->find(entry.path);
            if (found != linkGroups->end()) group = found->second;
        }
        SQLValue allocated = nullptr;
        if (sparse) {
            auto found = sparse->find(entry.path);
            if (found != sparse->end()) allocated = found->second;
        }
        db_.run(insertTreeSQL, {id, position++, entry.path, std::string(toString(entry.kind)), entry.size,
                                textOrNull(entry.sha256), textOrNull(entry.target), mode, group, allocated});
    }
}

std::vector<TreeEntry> Journal::treeEntries(int64_t id) {
    std::lock_guard guard(lock());
    std::vector<TreeEntry> entries;
    for (const auto& row : db_.query("SELECT * FROM tree_entries WHERE record_id = ? ORDER BY position", {id})) {
        if (auto entry = decodeTreeEntry(row)) entries.push_back(std::move(*entry));
    }
    return entries;
}

std::map<int64_t, std::vector<TreeEntry>> Journal::treeEntries(const std::vector<int64_t>& ids) {
    // Well within SQLite's limit on the parameters of one statement.
    constexpr size_t perQuery = 256;
    std::lock_guard guard(lock());
    std::map<int64_t, std::vector<TreeEntry>> trees;
    for (size_t begin = 0; begin < ids.size(); begin += perQuery) {
        const size_t end = std::min(ids.size(), begin + perQuery);
        std::string marks;
        std::vector<SQLValue> parameters;
        for (size_t i = begin; i < end; ++i) {
            marks += i == begin ? "?" : ",?";
            parameters.emplace_back(ids[i]);
        }
        for (const auto& row : db_.query("SELECT * FROM tree_entries WHERE record_id IN (" + marks +
                                             ") ORDER BY record_id, position",
                                         parameters)) {
            auto id = integer(row["record_id"]);
            auto entry = decodeTreeEntry(row);
            if (id && entry) trees[*id].push_back(std::move(*entry));
        }
    }
    return trees;
}

// MARK: Pins

std::vector<std::string> Journal::pins() {
    std::lock_guard guard(lock());
    std::vector<std::string> paths;
    for (const auto& row : db_.query("SELECT path FROM pins ORDER BY path")) {
        if (auto path = text(row["path"])) paths.push_back(std::move(*path));
    }
    return paths;
}

void Journal::pin(const std::string& path) {
    std::lock_guard guard(lock());
    db_.run("INSERT OR IGNORE INTO pins (path, created_at) VALUES (?, ?)", {path, clock_->now().secondsSince1970});
}

void Journal::unpin(const std::string& path) {
    std::lock_guard guard(lock());
    db_.run("DELETE FROM pins WHERE path = ?", {path});
}

}  // namespace keldwick
