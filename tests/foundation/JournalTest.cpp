#include "foundation/Clock.h"
#include "foundation/Journal.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <stdexcept>
#include <barrier>
#include <functional>
#include <thread>

#include "platform/POSIXFailure.h"
#include "support/ManualClock.h"
#include "support/SQLiteFailure.h"
#include "support/TempDir.h"

using namespace keldwick;
using Kind = TreeEntry::Kind;

namespace {

// The schemas older journals were written with, kept here as the files on users' disks
// hold them.
const char* const oldSchemas[] = {
    "CREATE TABLE records (id INTEGER PRIMARY KEY AUTOINCREMENT, original_path TEXT NOT NULL,"
    " drive_id TEXT NOT NULL, drive_relative_path TEXT NOT NULL, is_directory INTEGER NOT NULL,"
    " size INTEGER NOT NULL, checksum TEXT, phase TEXT NOT NULL, last_used REAL, created_at REAL NOT NULL,"
    " updated_at REAL NOT NULL, error TEXT);"
    "CREATE INDEX records_phase ON records(phase);"
    "CREATE INDEX records_original_path ON records(original_path);"
    "CREATE TABLE tree_entries (record_id INTEGER NOT NULL REFERENCES records(id) ON DELETE CASCADE,"
    " position INTEGER NOT NULL, path TEXT NOT NULL, kind TEXT NOT NULL, size INTEGER NOT NULL, sha256 TEXT,"
    " PRIMARY KEY (record_id, path));"
    "CREATE TABLE events (id INTEGER PRIMARY KEY AUTOINCREMENT, record_id INTEGER, at REAL NOT NULL,"
    " level TEXT NOT NULL, message TEXT NOT NULL);"
    "PRAGMA user_version = 1;",
    "CREATE TABLE pins (path TEXT PRIMARY KEY, created_at REAL NOT NULL); PRAGMA user_version = 2;",
    "ALTER TABLE records ADD COLUMN restore_checksum TEXT; PRAGMA user_version = 3;",
    "ALTER TABLE tree_entries ADD COLUMN target TEXT; PRAGMA user_version = 4;",
};

// A journal file at `version` (0-5) holding three records with trees (offloaded,
// restored, superseded; at version 5 only the first keeps its tree) and, from version 2
// on, one pin.
void buildOldJournal(const std::string& path, int version) {
    SQLiteConnection db(path);
    db.exec("PRAGMA journal_mode = DELETE");
    for (int v = 1; v <= std::min(version, 4); ++v) db.exec(oldSchemas[v - 1]);
    if (version == 0) return;
    db.exec("BEGIN");
    int id = 0;
    for (const char* phase : {"offloaded", "restored", "superseded"}) {
        ++id;
        db.run("INSERT INTO records (original_path, drive_id, drive_relative_path, is_directory, size, checksum,"
               " phase, last_used, created_at, updated_at) VALUES (?, 'D', ?, 1, 10, 'sum', ?, 5.5, 100, 200.25)",
               {"/home/u/item" + std::to_string(id), "K/M/home/u/item" + std::to_string(id), std::string(phase)});
        for (int i = 0; i < 50; ++i) {
            db.run("INSERT INTO tree_entries (record_id, position, path, kind, size, sha256) VALUES (?, ?, ?, 'file', 1, ?)",
                   {int64_t(id), int64_t(i), "f" + std::to_string(i), std::string(64, 'a')});
        }
    }
    if (version >= 2) db.run("INSERT INTO pins (path, created_at) VALUES ('/home/u/keep', 7)");
    db.exec("COMMIT");
    if (version >= 5) db.exec("DELETE FROM tree_entries WHERE record_id <> 1; VACUUM; PRAGMA user_version = 5;");
}

std::vector<std::string> columns(SQLiteConnection& db, const std::string& table) {
    std::vector<std::string> names;
    for (const auto& row : db.query("PRAGMA table_info(" + table + ")")) names.push_back(std::get<std::string>(row["name"]));
    return names;
}

int64_t count(SQLiteConnection& db, const std::string& sql) {
    return std::get<int64_t>(db.query(sql)[0].values.front());
}

NewRecord newRecord(const std::string& path, Phase phase = Phase::offloadCopying) {
    NewRecord r;
    r.originalPath = path;
    r.driveID = "DRIVE-1";
    r.driveRelativePath = "Keldwick/Mac" + path;
    r.isDirectory = true;
    r.size = 4096;
    r.phase = phase;
    return r;
}

std::vector<TreeEntry> tree(int files) {
    std::vector<TreeEntry> entries{{"", Kind::directory, 0, {}, {}}};
    for (int i = 0; i < files; ++i) entries.push_back({"f" + std::to_string(i), Kind::file, i, std::string(64, 'c'), {}});
    entries.push_back({"l", Kind::symlink, 0, {}, std::string("f0")});
    return entries;
}

using test::failureCode;

}  // namespace

// MARK: Opening and migration

TEST(JournalTest, NewFileReachesTheLatestVersionWithDurableSettings) {
    test::TempDir dir;
    const auto path = dir / "support/Keldwick/journal.sqlite";  // folders are created
    {
        Journal journal(path, Clock::system());
        auto& db = journal.db();
        EXPECT_EQ(db.userVersion(), 9);
        EXPECT_EQ(columns(db, "records"),
                  (std::vector<std::string>{"id", "original_path", "drive_id", "drive_relative_path", "is_directory",
                                            "size", "checksum", "phase", "last_used", "created_at", "updated_at",
                                            "error", "restore_checksum", "original_identity", "mode", "uid", "gid",
                                            "metadata_digest", "sparse", "acl_digest"}));
        EXPECT_EQ(columns(db, "tree_entries"), (std::vector<std::string>{"record_id", "position", "path", "kind", "size",
                                                                         "sha256", "target", "mode", "link_group",
                                                                         "sparse"}));
        EXPECT_EQ(columns(db, "events"), (std::vector<std::string>{"id", "record_id", "at", "level", "message"}));
        EXPECT_EQ(columns(db, "pins"), (std::vector<std::string>{"path", "created_at"}));
        EXPECT_EQ(columns(db, "marks"), (std::vector<std::string>{"name", "at", "value"}));
        EXPECT_EQ(db.query("PRAGMA journal_mode")[0]["journal_mode"], SQLValue(std::string("wal")));
        EXPECT_EQ(db.query("PRAGMA synchronous")[0]["synchronous"], SQLValue(int64_t(2)));
        EXPECT_EQ(db.query("PRAGMA foreign_keys")[0]["foreign_keys"], SQLValue(int64_t(1)));
        EXPECT_TRUE(journal.events(10).empty());  // WAL took: nothing to warn about

        // A tree kept for a finished record would be dropped by the last step if it ran again.
        auto record = journal.insert(newRecord("/a"));
        journal.markVerified(record.id, "sum", tree(2));
        db.run("UPDATE records SET phase = 'restored' WHERE id = ?", {record.id});
    }
    Journal again(path, Clock::system());
    EXPECT_EQ(again.treeEntries(1).size(), 4u);
}

TEST(JournalTest, MigratesEveryOlderVersionKeepingItsRows) {
    for (int version = 0; version <= 5; ++version) {
        SCOPED_TRACE("from version " + std::to_string(version));
        test::TempDir dir;
        const auto path = dir / "journal.sqlite";
        buildOldJournal(path, version);
        Journal journal(path, Clock::system());
        auto& db = journal.db();
        EXPECT_EQ(db.userVersion(), 9);
        EXPECT_EQ(columns(db, "tree_entries").back(), "sparse");
        EXPECT_EQ(columns(db, "records").back(), "acl_digest");
        if (version == 0) {
            EXPECT_TRUE(journal.allRecords().empty());
            continue;
        }
        auto records = journal.allRecords();
        ASSERT_EQ(records.size(), 3u);
        EXPECT_EQ(records[0].phase, Phase::offloaded);
        EXPECT_EQ(records[0].lastUsed, Date{5.5});
        EXPECT_EQ(records[0].createdAt, Date{100});  // stored as INTEGER, read as seconds
        EXPECT_EQ(records[0].updatedAt, Date{200.25});
        EXPECT_FALSE(records[0].restoreChecksum);
        EXPECT_FALSE(records[0].originalIdentity);
        // Only the tree of the record that still lives on the drive is kept.
        EXPECT_EQ(journal.treeEntries(1).size(), 50u);
        EXPECT_FALSE(journal.treeEntries(1)[0].target);
        EXPECT_TRUE(journal.treeEntries(2).empty());
        EXPECT_TRUE(journal.treeEntries(3).empty());
        EXPECT_EQ(count(db, "PRAGMA freelist_count"), 0);  // vacuumed
        EXPECT_EQ(journal.pins(), version >= 2 ? std::vector<std::string>{"/home/u/keep"} : std::vector<std::string>{});
        // The new columns are in use.
        journal.setRestoreChecksum(1, "back");
        EXPECT_EQ(journal.record(1)->restoreChecksum, "back");
        journal.markVerified(1, "sum", std::nullopt, "1:2:3.4");
        EXPECT_EQ(journal.record(1)->originalIdentity, "1:2:3.4");
        // Rows of before kept no modes: a restore must not invent them.
        EXPECT_FALSE(journal.recordedMetadata(2));
        // Marks start empty, are replaced by name and outlive the connection.
        EXPECT_FALSE(journal.mark("lastRun"));
        journal.setMark("lastRun", {Date{10}, "Moved 1 file."});
        journal.setMark("lastRun", {Date{20.5}, "Moved 2 files."});
        journal.setMark("other", {Date{30}, ""});
        EXPECT_EQ(Journal(path, Clock::system()).mark("lastRun"), (JournalMark{Date{20.5}, "Moved 2 files."}));
    }
}

TEST(JournalTest, LeavesALaterSchemaAlone) {
    test::TempDir dir;
    const auto path = dir / "journal.sqlite";
    {
        SQLiteConnection db(path);
        db.exec("CREATE TABLE future (x); PRAGMA user_version = 10;");
    }
    Journal journal(path, Clock::system());
    EXPECT_EQ(journal.db().userVersion(), 10);
    EXPECT_TRUE(journal.db().query("SELECT name FROM sqlite_master WHERE name = 'records'").empty());
}

TEST(JournalTest, SeveralOpenersOfOneNewFileAllSucceed) {
    for (int round = 0; round < 5; ++round) {
        test::TempDir dir;
        const auto path = dir / "journal.sqlite";
        constexpr int openers = 4;
        std::barrier start(openers);
        std::vector<std::string> failures(openers);
        std::vector<std::thread> threads;
        for (int i = 0; i < openers; ++i) {
            threads.emplace_back([&, i] {
                start.arrive_and_wait();
                try {
                    Journal journal(path, Clock::system());
                    journal.insert(newRecord("/x" + std::to_string(i)));
                } catch (const std::exception& e) {
                    failures[i] = e.what();
                }
            });
        }
        for (auto& t : threads) t.join();
        for (const auto& failure : failures) EXPECT_EQ(failure, "");
        EXPECT_EQ(Journal(path, Clock::system()).allRecords().size(), size_t(openers));
    }
}

TEST(JournalTest, WarnsWhenWriteAheadLoggingDidNotTakeEffect) {
    // An anonymous temporary database can't use WAL.
    Journal journal("", Clock::system());
    auto events = journal.events(5);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].level, EventLevel::warning);
    EXPECT_NE(events[0].message.find("“delete”"), std::string::npos);
    EXPECT_FALSE(Journal::journalModeWarning(":memory:", "memory"));
    EXPECT_TRUE(Journal::inMemory(Clock::system())->events(5).empty());
}

TEST(JournalTest, OpeningFailsWithoutLeavingAJournal) {
    test::TempDir dir;
    test::writeFile(dir / "file", "x");
    EXPECT_THROW(Journal(dir / "file/journal.sqlite", Clock::system()), POSIXFailure);
    test::writeFile(dir / "garbage.sqlite", std::string(4096, 'g'));
    EXPECT_EQ(failureCode([&] { Journal journal(dir / "garbage.sqlite", Clock::system()); }), SQLITE_NOTADB);
}

TEST(JournalTest, AFailedMigrationStepLosesNothing) {
    test::TempDir dir;
    const auto path = dir / "journal.sqlite";
    buildOldJournal(path, 4);
    {
        SQLiteConnection db(path);
        db.exec("CREATE TRIGGER keep BEFORE DELETE ON tree_entries BEGIN SELECT RAISE(ABORT, 'kept'); END");
    }
    EXPECT_EQ(failureCode([&] { Journal journal(path, Clock::system()); }), SQLITE_CONSTRAINT);
    {
        SQLiteConnection db(path);
        EXPECT_EQ(db.userVersion(), 4);
        EXPECT_EQ(count(db, "SELECT count(*) FROM tree_entries"), 150);
        db.exec("DROP TRIGGER keep");
    }
    EXPECT_EQ(Journal(path, Clock::system()).treeEntries(1).size(), 50u);

    // An earlier step that fails stops the opening where it stood.
    const auto second = dir / "second.sqlite";
    buildOldJournal(second, 2);
    SQLiteConnection(second).exec("ALTER TABLE records ADD COLUMN restore_checksum TEXT");
    EXPECT_EQ(failureCode([&] { Journal journal(second, Clock::system()); }), SQLITE_ERROR);
    SQLiteConnection db(second);
    EXPECT_EQ(db.userVersion(), 2);
    EXPECT_FALSE(db.inTransaction());
    EXPECT_EQ(count(db, "SELECT count(*) FROM tree_entries"), 150);
}

// MARK: Records

TEST(JournalTest, InsertReturnsTheStoredRecord) {
    auto journal = Journal::inMemory(Clock::system());
    auto first = journal->insert(newRecord("/home/u/a"));
    EXPECT_EQ(first.id, 1);
    EXPECT_EQ(first.createdAt, first.updatedAt);
    EXPECT_FALSE(first.checksum);
    EXPECT_FALSE(first.lastUsed);
    EXPECT_EQ(journal->record(1), first);

    auto full = newRecord("/home/u/b", Phase::offloaded);
    full.isDirectory = false;
    full.checksum = "abc";
    full.lastUsed = Date{1'700'000'000.125};
    full.createdAt = Date{1'600'000'000.5};
    auto second = journal->insert(full);
    EXPECT_EQ(second.id, 2);
    EXPECT_FALSE(second.isDirectory);
    EXPECT_EQ(second.checksum, "abc");
    EXPECT_EQ(second.lastUsed, full.lastUsed);
    EXPECT_EQ(second.createdAt, *full.createdAt);
    EXPECT_NE(second.updatedAt, second.createdAt);
    EXPECT_EQ(second.drivePath("/media/u/D"), "/media/u/D/Keldwick/Mac/home/u/b");

    EXPECT_FALSE(journal->record(99));
    EXPECT_EQ(journal->allRecords(), (std::vector<OffloadRecord>{first, second}));
}

// A reader that keeps what it read while the stamp holds must see every kind of change:
// its own connection's writes, another connection's commits and a changed table.
TEST(JournalTest, TheChangeStampMovesWithEveryChangeAndOnlyThen) {
    test::TempDir dir;
    const std::string path = dir / "journal.sqlite";
    auto journal = Journal::open(path, Clock::system());
    auto other = Journal::open(path, Clock::system());
    const int64_t id = journal->insert(newRecord("/home/u/a")).id;

    Journal::ChangeStamp before = journal->changeStamp();
    (void)journal->allRecords();
    (void)journal->pins();
    EXPECT_EQ(journal->changeStamp(), before) << "reading changes nothing";

    const std::vector<std::pair<const char*, std::function<void()>>> changes = {
        {"own insert", [&] { journal->insert(newRecord("/home/u/b")); }},
        {"own phase", [&] { journal->setPhase(id, Phase::offloaded); }},
        {"own event", [&] { journal->log("noted"); }},
        {"other connection's insert", [&] { other->insert(newRecord("/home/u/c")); }},
        {"other connection's pin", [&] { other->pin("/home/u/Keep"); }},
        {"own table renamed", [&] { journal->db().exec("ALTER TABLE pins RENAME TO pins_away"); }},
        {"other's table renamed back", [&] { other->db().exec("ALTER TABLE pins_away RENAME TO pins"); }},
    };
    for (const auto& [what, change] : changes) {
        change();
        const Journal::ChangeStamp after = journal->changeStamp();
        EXPECT_NE(after, before) << what;
        EXPECT_EQ(journal->changeStamp(), after) << what << ": nothing since";
        before = after;
    }
    // A transaction that changed nothing leaves the stamp.
    journal->transaction([] {});
    EXPECT_EQ(journal->changeStamp(), before);
}

TEST(JournalTest, SelectsRecordsByPhaseAndPath) {
    auto journal = Journal::inMemory(Clock::system());
    for (Phase phase : allPhases) journal->insert(newRecord("/same", phase));
    journal->insert(newRecord("/caf\xC3\xA9"));
    auto inFlight = journal->records({Phase::offloadCopying, Phase::restoreCleanup});
    ASSERT_EQ(inFlight.size(), 3u);
    EXPECT_EQ(inFlight[0].id, 1);
    EXPECT_EQ(inFlight[1].id, 8);
    EXPECT_EQ(inFlight[2].id, 14);

    // The same records' places, of one drive only.
    auto other = newRecord("/other", Phase::offloadCopying);
    other.driveID = "another drive";
    journal->insert(other);
    std::vector<RecordPlace> places;
    journal->places(newRecord("/x").driveID, {Phase::offloadCopying, Phase::restoreCleanup},
                    [&](const RecordPlace& place) { places.push_back(place); });
    ASSERT_EQ(places.size(), 3u);
    EXPECT_EQ(places[0], (RecordPlace{inFlight[0].id, inFlight[0].phase, inFlight[0].originalPath,
                                      inFlight[0].driveRelativePath}));
    EXPECT_EQ(places[2].id, 14);
    EXPECT_EQ(places[2].phase, Phase::offloadCopying);

    auto active = journal->activeRecords("/same");
    EXPECT_EQ(active.size(), 10u);
    for (const auto& r : active) EXPECT_FALSE(isFinished(r.phase));
    EXPECT_EQ(active.back().phase, Phase::linkMissing);
    // Paths compare as bytes: the decomposed spelling is another file.
    EXPECT_TRUE(journal->activeRecords("/cafe\xCC\x81").empty());
    EXPECT_TRUE(journal->activeRecords("/SAME").empty());

    // An empty set needs no database at all.
    journal->db().exec("DROP TABLE tree_entries; DROP TABLE records");
    EXPECT_TRUE(journal->records({}).empty());
    EXPECT_THROW(journal->records({Phase::offloaded}), SQLiteError);
}

TEST(JournalTest, NamesThePathsThatUnfinishedRecordsOfSeveralDrivesHold) {
    auto journal = Journal::inMemory(Clock::system());
    auto onDrive = [&](const std::string& path, const std::string& drive, Phase phase) {
        NewRecord record = newRecord(path, phase);
        record.driveID = drive;
        journal->insert(record);
    };
    onDrive("/both", "DRIVE-1", Phase::offloaded);  // two drives, both unfinished
    onDrive("/both", "DRIVE-2", Phase::linkMissing);
    onDrive("/one", "DRIVE-1", Phase::offloaded);  // one drive, twice
    onDrive("/one", "DRIVE-1", Phase::restoreCopying);
    onDrive("/over", "DRIVE-1", Phase::offloaded);  // the other drive's record is finished
    onDrive("/over", "DRIVE-2", Phase::restored);
    onDrive("/gone", "DRIVE-1", Phase::abandoned);  // neither is unfinished
    onDrive("/gone", "DRIVE-2", Phase::superseded);
    onDrive("/three", "DRIVE-1", Phase::offloadCopying);
    onDrive("/three", "DRIVE-2", Phase::returned);
    onDrive("/three", "DRIVE-3", Phase::offloaded);
    EXPECT_EQ(journal->pathsOfSeveralDrives(), (std::set<std::string>{"/both", "/three"}));
}

TEST(JournalTest, ReadsOfManyRecordsGiveEachRowItsOwnValues) {
    // Rows are decoded one after another from one reused row: a field that is empty in one
    // record must not take the value the record before it had.
    auto journal = Journal::inMemory(Clock::system());
    for (int i = 0; i < 6; ++i) {
        NewRecord record = newRecord("/r" + std::to_string(i), i % 2 ? Phase::offloaded : Phase::offloadCopying);
        record.isDirectory = i % 3 == 0;
        record.size = i;
        if (i % 2) {
            record.checksum = std::string(64, char('a' + i));
            record.lastUsed = Date{1000.0 + i};
        }
        const int64_t id = journal->insert(record).id;
        if (i % 2) journal->setRestoreChecksum(id, std::string(64, 'f'));
        if (i == 2) journal->setPhase(id, Phase::returned, std::string("the drive went away"));
    }
    const std::vector<OffloadRecord> all = journal->allRecords();
    ASSERT_EQ(all.size(), 6u);
    for (const auto& record : all) EXPECT_EQ(journal->record(record.id), record) << record.originalPath;
    EXPECT_EQ(all[1].checksum, std::string(64, 'b'));
    EXPECT_FALSE(all[2].checksum);
    EXPECT_FALSE(all[2].lastUsed);
    EXPECT_EQ(all[2].error, std::string("the drive went away"));
    EXPECT_FALSE(all[3].error);
    EXPECT_FALSE(all[4].restoreChecksum);
    EXPECT_EQ(journal->records({Phase::offloaded}), (std::vector<OffloadRecord>{all[1], all[3], all[5]}));

    // The folders of some phases: as the records read, whatever the column holds.
    EXPECT_EQ(journal->folderRecords({Phase::offloaded}), (std::vector<OffloadRecord>{all[3]}));
    EXPECT_EQ(journal->folderRecords({Phase::offloaded, Phase::offloadCopying}),
              (std::vector<OffloadRecord>{all[0], all[3]}));
    journal->db().exec("UPDATE records SET is_directory = 'yes' WHERE id = " + std::to_string(all[3].id));
    journal->db().exec("UPDATE records SET is_directory = 2 WHERE id = " + std::to_string(all[5].id));
    auto folders = journal->folderRecords({Phase::offloaded});
    ASSERT_EQ(folders.size(), 1u);
    EXPECT_EQ(folders[0].id, all[5].id);
    EXPECT_TRUE(folders[0].isDirectory);
    EXPECT_FALSE(journal->record(all[3].id)->isDirectory);
    EXPECT_TRUE(journal->folderRecords({}).empty());
}

TEST(JournalTest, SkipsRowsThatCantBeRead) {
    auto journal = Journal::inMemory(Clock::system());
    auto& db = journal->db();
    journal->insert(newRecord("/ok"));
    db.exec("INSERT INTO records (original_path, drive_id, drive_relative_path, is_directory, size, phase,"
            " created_at, updated_at) VALUES ('/bad-date', 'D', 'r', 0, 0, 'offloaded', 'yesterday', 1)");
    db.exec("INSERT INTO records (original_path, drive_id, drive_relative_path, is_directory, size, phase,"
            " created_at, updated_at) VALUES ('/bad-phase', 'D', 'r', 'yes', 'big', 'paused', 1, 1)");
    db.exec("INSERT INTO records (original_path, drive_id, drive_relative_path, is_directory, size, phase,"
            " created_at, updated_at) VALUES ('/odd', 'D', 'r', 'yes', 'big', 'offloaded', 1, 1)");
    auto records = journal->allRecords();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_FALSE(journal->record(2));
    EXPECT_FALSE(journal->record(3));
    EXPECT_FALSE(records[1].isDirectory);  // not an integer: false
    EXPECT_EQ(records[1].size, 0);

    db.exec("INSERT INTO tree_entries VALUES (1, 0, 'a', 'file', 'x', x'05', NULL, NULL, NULL, NULL);"
            "INSERT INTO tree_entries VALUES (1, 1, 'b', 'fifo', 1, NULL, NULL, NULL, NULL, NULL);"
            "INSERT INTO tree_entries VALUES (1, 2, 'c', 'symlink', 0, NULL, 'a', NULL, NULL, NULL)");
    EXPECT_EQ(journal->treeEntries(1), (std::vector<TreeEntry>{{"a", Kind::file, 0, {}, {}},
                                                               {"c", Kind::symlink, 0, {}, std::string("a")}}));

    journal->log("first");
    db.exec("INSERT INTO events (record_id, at, level, message) VALUES (4, 2, 'debug', 'second')");
    db.exec("INSERT INTO events (record_id, at, level, message) VALUES (NULL, 'now', 'info', 'broken')");
    journal->log("third", EventLevel::error, 1);
    auto events = journal->events(3);
    ASSERT_EQ(events.size(), 2u);  // the broken row is left out
    EXPECT_EQ(events[0].message, "third");
    EXPECT_EQ(events[0].level, EventLevel::error);
    EXPECT_EQ(events[0].recordID, 1);
    EXPECT_EQ(events[1].message, "second");
    EXPECT_EQ(events[1].level, EventLevel::info);
    EXPECT_EQ(journal->events(1).size(), 1u);
}

// MARK: Phases and trees

TEST(JournalTest, MarkVerifiedChangesChecksumPhaseAndTreeTogether) {
    auto journal = Journal::inMemory(Clock::system());
    auto record = journal->insert(newRecord("/f"));
    journal->markVerified(record.id, "digest-1", tree(3));
    auto verified = *journal->record(record.id);
    EXPECT_EQ(verified.phase, Phase::offloadVerified);
    EXPECT_EQ(verified.checksum, "digest-1");
    EXPECT_EQ(journal->treeEntries(record.id), tree(3));

    // A failure in the middle leaves all three as they were.
    journal->db().exec("CREATE TRIGGER refuse BEFORE INSERT ON tree_entries WHEN NEW.path = 'f1'"
                       " BEGIN SELECT RAISE(ABORT, 'refused'); END");
    journal->setPhase(record.id, Phase::offloadCopying);
    EXPECT_EQ(failureCode([&] { journal->markVerified(record.id, "digest-2", tree(2)); }), SQLITE_CONSTRAINT);
    auto after = *journal->record(record.id);
    EXPECT_EQ(after.phase, Phase::offloadCopying);
    EXPECT_EQ(after.checksum, "digest-1");
    EXPECT_EQ(journal->treeEntries(record.id), tree(3));
    EXPECT_FALSE(journal->db().inTransaction());

    // Absent entries: no tree at all.
    journal->markVerified(record.id, "digest-3", std::nullopt);
    EXPECT_TRUE(journal->treeEntries(record.id).empty());
    EXPECT_EQ(journal->record(record.id)->checksum, "digest-3");
    EXPECT_FALSE(journal->recordedMetadata(record.id));

    // Modes, owner and link groups land with the tree, each entry's beside it; the tree
    // reads as before. A group named for a path that is no file of the tree is not kept.
    journal->db().exec("DROP TRIGGER refuse");
    // So do the bytes taken by the entries that had holes; the others' stay empty.
    RecordedMetadata metadata{0700, 1000, 100, "meta", {{"", 0700}, {"f0", 04755}, {"f1", 0600}},
                              {{"f0", 1}, {"f1", 1}}, {{"f1", 8192}}, "acls"};
    RecordedMetadata withStray = metadata;
    withStray.linkGroups["l"] = 2;
    journal->markVerified(record.id, "digest-4", tree(2), std::nullopt, withStray);
    EXPECT_EQ(journal->recordedMetadata(record.id), metadata);
    EXPECT_EQ(journal->treeEntries(record.id), tree(2));
    const auto sparseColumn =
        journal->db().query("SELECT path, sparse FROM tree_entries WHERE record_id = ? ORDER BY path", {record.id});
    ASSERT_EQ(sparseColumn.size(), 4u);  // "", f0, f1, l
    for (size_t i : {0, 1, 3}) EXPECT_EQ(sparseColumn[i]["sparse"], SQLValue(nullptr));
    EXPECT_EQ(sparseColumn[2]["sparse"], SQLValue(int64_t{8192}));

    // A file item's holes are the record's own.
    auto file = journal->insert(newRecord("/image"));
    const RecordedMetadata ofFile{0644, 1000, 100, "meta", {{"", 0644}}, {}, {{"", 4096}}, ""};
    journal->markVerified(file.id, "digest-5", std::nullopt, std::nullopt, ofFile);
    EXPECT_EQ(journal->recordedMetadata(file.id), ofFile);
    EXPECT_EQ(journal->db().query("SELECT sparse FROM records WHERE id = ?", {file.id})[0]["sparse"],
              SQLValue(int64_t{4096}));
}

TEST(JournalTest, TransactionsNest) {
    auto journal = Journal::inMemory(Clock::system());
    auto record = journal->insert(newRecord("/f"));
    // markVerified inside a caller's transaction, which then rolls back everything.
    {
        Journal::Transaction outer(*journal);
        journal->markVerified(record.id, "inner", tree(1));
        EXPECT_EQ(journal->record(record.id)->checksum, "inner");
    }
    EXPECT_FALSE(journal->record(record.id)->checksum);
    EXPECT_TRUE(journal->treeEntries(record.id).empty());

    // A failed inner step rolls back only itself.
    journal->db().exec("CREATE TRIGGER refuse BEFORE INSERT ON tree_entries WHEN NEW.path = 'bad'"
                       " BEGIN SELECT RAISE(ABORT, 'refused'); END");
    journal->transaction([&] {
        journal->setPhase(record.id, Phase::offloadVerified, "outer");
        EXPECT_THROW(journal->markVerified(record.id, "x", std::vector<TreeEntry>{{"bad", Kind::file, 1, {}, {}}}),
                     SQLiteError);
    });
    EXPECT_EQ(journal->record(record.id)->error, "outer");
    EXPECT_FALSE(journal->record(record.id)->checksum);
}

TEST(JournalTest, GroupedCommitsWaitForOneFlushOnlyInWriteAheadLogging) {
    test::TempDir dir;
    Journal journal(dir / "journal.sqlite", Clock::system());
    auto synchronous = [](Journal& j) { return j.db().query("PRAGMA synchronous")[0]["synchronous"]; };
    const SQLValue full = int64_t(2), normal = int64_t(1);
    OffloadRecord record;
    {
        Journal::GroupCommit group(journal);
        EXPECT_EQ(synchronous(journal), normal);
        record = journal.insert(newRecord("/grouped"));
        {
            Journal::GroupCommit inner(journal);
        }
        EXPECT_EQ(synchronous(journal), normal);  // only the outermost scope ends the group
        journal.makeDurable();
        Journal other(dir / "journal.sqlite", Clock::system());  // a commit is visible at once, flushed or not
        EXPECT_TRUE(other.record(record.id));
    }
    EXPECT_EQ(synchronous(journal), full);
    journal.makeDurable();  // nothing left to flush

    // Inside a transaction, and in memory, every commit stays flushed on its own.
    journal.transaction([&] {
        Journal::GroupCommit group(journal);
        EXPECT_EQ(synchronous(journal), full);
        journal.setPhase(record.id, Phase::abandoned);
    });
    EXPECT_EQ(synchronous(journal), full);
    EXPECT_EQ(journal.record(record.id)->phase, Phase::abandoned);
    auto memory = Journal::inMemory(Clock::system());
    Journal::GroupCommit group(*memory);
    EXPECT_EQ(synchronous(*memory), full);
    memory->makeDurable();
}

TEST(JournalTest, InsertWithEntriesIsAtomic) {
    auto journal = Journal::inMemory(Clock::system());
    auto adopted = journal->insert(newRecord("/adopted", Phase::offloaded), tree(2));
    EXPECT_EQ(journal->treeEntries(adopted.id), tree(2));
    EXPECT_TRUE(journal->treeEntries(journal->insert(newRecord("/bare"), std::nullopt).id).empty());

    journal->db().exec("CREATE TRIGGER refuse BEFORE INSERT ON tree_entries WHEN NEW.path = 'l'"
                       " BEGIN SELECT RAISE(ABORT, 'refused'); END");
    // Called alone.
    EXPECT_THROW(journal->insert(newRecord("/lost"), tree(1)), SQLiteError);
    EXPECT_TRUE(journal->activeRecords("/lost").empty());

    // Inside recovery's own transaction, run as raw statements under the lock.
    {
        std::lock_guard guard(journal->lock());
        journal->db().exec("BEGIN IMMEDIATE");
        EXPECT_THROW(journal->insert(newRecord("/lost"), tree(1)), SQLiteError);
        journal->insert(newRecord("/kept"), std::vector<TreeEntry>{{"x", Kind::file, 1, {}, {}}});
        journal->db().exec("COMMIT");
    }
    EXPECT_TRUE(journal->activeRecords("/lost").empty());
    ASSERT_EQ(journal->activeRecords("/kept").size(), 1u);
    EXPECT_EQ(journal->treeEntries(journal->activeRecords("/kept")[0].id).size(), 1u);
}

TEST(JournalTest, SetPhaseKeepsOrDropsTheTree) {
    auto journal = Journal::inMemory(Clock::system());
    auto record = journal->insert(newRecord("/f"));
    journal->markVerified(record.id, "sum", tree(2));
    journal->setPhase(record.id, Phase::offloaded, "note");
    EXPECT_EQ(journal->record(record.id)->error, "note");
    journal->setPhase(record.id, Phase::returned);
    EXPECT_FALSE(journal->record(record.id)->error);
    EXPECT_EQ(journal->treeEntries(record.id).size(), 4u);

    // The tree goes with a finished phase, or neither changes.
    journal->db().exec("CREATE TRIGGER refuse BEFORE DELETE ON tree_entries BEGIN SELECT RAISE(ABORT, 'no'); END");
    EXPECT_THROW(journal->setPhase(record.id, Phase::restored), SQLiteError);
    EXPECT_EQ(journal->record(record.id)->phase, Phase::returned);
    journal->db().exec("DROP TRIGGER refuse");
    journal->setPhase(record.id, Phase::restored);
    EXPECT_EQ(journal->record(record.id)->phase, Phase::restored);
    EXPECT_TRUE(journal->treeEntries(record.id).empty());

    journal->setPhase(42, Phase::abandoned);  // unknown id: no change, no failure
    EXPECT_EQ(journal->allRecords().size(), 1u);

    const auto before = journal->record(record.id)->updatedAt;
    journal->setRestoreChecksum(record.id, "back");
    EXPECT_EQ(journal->record(record.id)->restoreChecksum, "back");
    EXPECT_EQ(journal->record(record.id)->updatedAt, before);
}

// MARK: Pins and the event log

TEST(JournalTest, PinsAreASortedSetKeepingTheFirstDate) {
    auto journal = Journal::inMemory(Clock::system());
    journal->pin("/home/u/b");
    journal->pin("/home/u/B");
    journal->pin("/home/u/a");
    const auto first = journal->db().query("SELECT created_at FROM pins WHERE path = '/home/u/a'")[0]["created_at"];
    journal->pin("/home/u/a");
    EXPECT_EQ(journal->db().query("SELECT created_at FROM pins WHERE path = '/home/u/a'")[0]["created_at"], first);
    EXPECT_EQ(journal->pins(), (std::vector<std::string>{"/home/u/B", "/home/u/a", "/home/u/b"}));
    journal->unpin("/home/u/a");
    journal->unpin("/home/u/never");
    EXPECT_EQ(journal->pins(), (std::vector<std::string>{"/home/u/B", "/home/u/b"}));
}

// Every stamp is the given clock's, so the journal and the program agree on the time even
// when it jumps: records, phases, verification, pins and events.
TEST(JournalTest, StampsComeFromTheGivenClock) {
    auto clock = std::make_shared<test::ManualClock>(Date{1'900'000'000.5});
    auto journal = Journal::inMemory(clock);
    EXPECT_EQ(journal->clock(), clock);
    const auto record = journal->insert(newRecord("/home/u/a"));
    EXPECT_EQ(record.createdAt, Date{1'900'000'000.5});
    EXPECT_EQ(record.updatedAt, Date{1'900'000'000.5});

    clock->set(Date{1'800'000'000});  // set back
    journal->setPhase(record.id, Phase::abandoned, "read error");
    EXPECT_EQ(journal->record(record.id)->updatedAt, Date{1'800'000'000});
    EXPECT_EQ(journal->record(record.id)->createdAt, Date{1'900'000'000.5});

    clock->advance(60);
    const auto other = journal->insert(newRecord("/home/u/b"));
    journal->markVerified(other.id, "digest", tree(1));
    EXPECT_EQ(journal->record(other.id)->updatedAt, Date{1'800'000'060});

    journal->pin("/home/u/keep");
    EXPECT_EQ(journal->db().query("SELECT created_at FROM pins")[0]["created_at"], SQLValue(1'800'000'060.0));
    journal->log("noted", EventLevel::info);
    EXPECT_EQ(journal->events(1).front().date, Date{1'800'000'060});

    // Given none, no journal: its times would be nobody's.
    EXPECT_THROW(Journal::inMemory(nullptr), std::invalid_argument);
}

TEST(JournalTest, LogNeverThrows) {
    auto journal = Journal::inMemory(Clock::system());
    journal->db().exec("PRAGMA query_only = ON");
    journal->log("can't be stored", EventLevel::warning);
    journal->db().exec("PRAGMA query_only = OFF");
    EXPECT_TRUE(journal->events(5).empty());
    journal->db().exec("DROP TABLE events");
    journal->log("no table");
}


// Trees read together are the trees read one by one, past the number of ids one query
// takes, and a record without a tree is simply absent.
TEST(JournalTreesTest, ManyTreesReadTogetherMatchEachReadAlone) {
    auto journal = Journal::inMemory(Clock::system());
    std::vector<int64_t> ids;
    for (int i = 0; i < 300; ++i) {
        auto record = journal->insert(newRecord("/item" + std::to_string(i)));
        if (i % 3 != 0) journal->markVerified(record.id, "sum", tree(1 + i % 4));
        ids.push_back(record.id);
    }
    ids.push_back(99'999);  // no such record
    const auto trees = journal->treeEntries(ids);
    EXPECT_EQ(trees.size(), 200u);
    for (int64_t id : ids) {
        const auto alone = journal->treeEntries(id);
        auto found = trees.find(id);
        EXPECT_EQ(found == trees.end() ? std::vector<TreeEntry>{} : found->second, alone) << id;
    }
    EXPECT_TRUE(journal->treeEntries(std::vector<int64_t>{}).empty());
}

