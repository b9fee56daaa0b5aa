#include "foundation/SQLiteConnection.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <climits>
#include <cmath>
#include <thread>

#include "support/SQLiteFailure.h"
#include "support/TempDir.h"

using namespace keldwick;

using test::failureCode;

TEST(SQLiteConnectionTest, OpenFailureCarriesSQLitesCodeAndText) {
    test::TempDir dir;
    try {
        SQLiteConnection db(dir / "missing/folder/db.sqlite");
        FAIL() << "opened a database in a missing folder";
    } catch (const SQLiteError& error) {
        EXPECT_EQ(error.code(), SQLITE_CANTOPEN);
        EXPECT_EQ(error.message(), "unable to open database file");
        EXPECT_STREQ(error.what(), "SQLite error 14: unable to open database file");
    }
    SQLiteConnection memory(":memory:");
    EXPECT_EQ(memory.userVersion(), 0);
    memory.exec("PRAGMA user_version = 7");
    EXPECT_EQ(memory.userVersion(), 7);
    // Each ":memory:" connection is its own database.
    EXPECT_EQ(SQLiteConnection(":memory:").userVersion(), 0);
}

TEST(SQLiteConnectionTest, ValuesRoundTripExactly) {
    SQLiteConnection db(":memory:");
    db.exec("CREATE TABLE t (i INTEGER, r REAL, s TEXT, n TEXT, b BLOB)");
    const std::string text = std::string("it's \"quoted\" caf\xC3\xA9 ", 17) + std::string("\0after", 6);
    for (int64_t value : {INT64_MIN, int64_t(-1), int64_t(0), INT64_MAX}) {
        db.run("INSERT INTO t (i, r, s, n, b) VALUES (?, ?, ?, ?, x'00ff')",
               {value, 0.1 + double(value), text, nullptr});
    }
    auto rows = db.query("SELECT * FROM t ORDER BY i");
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_EQ(rows[0]["i"], SQLValue(INT64_MIN));
    EXPECT_EQ(rows[3]["i"], SQLValue(INT64_MAX));
    EXPECT_EQ(rows[2]["r"], SQLValue(0.1));
    EXPECT_EQ(std::get<std::string>(rows[1]["s"]), text);  // NUL and all
    EXPECT_EQ(rows[1]["n"], SQLValue(nullptr));
    EXPECT_EQ(rows[1]["b"], SQLValue(nullptr));      // blobs are not read
    EXPECT_EQ(rows[1]["absent"], SQLValue(nullptr));
    // Integer 1 and real 1.0 are different values.
    EXPECT_NE(SQLValue(int64_t(1)), SQLValue(1.0));

    // A repeated column name keeps the later value.
    auto same = db.query("SELECT 1 AS x, 'two' AS x");
    ASSERT_EQ(same.size(), 1u);
    EXPECT_EQ(same[0]["x"], SQLValue(std::string("two")));
    EXPECT_TRUE(db.query("SELECT * FROM t WHERE i = 42").empty());
}

TEST(SQLiteConnectionTest, RunReturnsTheLastInsertedRowID) {
    SQLiteConnection db(":memory:");
    db.exec("CREATE TABLE t (id INTEGER PRIMARY KEY, v TEXT); CREATE TABLE u (x)");
    EXPECT_EQ(db.run("UPDATE t SET v = 'x' WHERE id = 1"), 0);
    EXPECT_EQ(db.run("INSERT INTO t (v) VALUES (?)", {std::string("a")}), 1);
    EXPECT_EQ(db.run("INSERT INTO t (v) VALUES (?)", {std::string("b")}), 2);
    EXPECT_EQ(db.run("UPDATE t SET v = 'c' WHERE id = 1"), 2);
    // Rows are stepped past, not read.
    EXPECT_EQ(db.run("SELECT * FROM t"), 2);
}

TEST(SQLiteConnectionTest, FailuresAreThrownAndLeaveTheConnectionUsable) {
    SQLiteConnection db(":memory:");
    db.exec("CREATE TABLE t (id INTEGER PRIMARY KEY, v TEXT NOT NULL)");
    EXPECT_EQ(failureCode([&] { db.run("-- only a comment"); }), 0);
    EXPECT_EQ(failureCode([&] { db.query("   "); }), 0);
    EXPECT_EQ(failureCode([&] { db.query("SELEKT 1"); }), SQLITE_ERROR);
    EXPECT_EQ(failureCode([&] { db.exec("CREATE TABLE t (x)"); }), SQLITE_ERROR);
    EXPECT_EQ(failureCode([&] { db.run("INSERT INTO t (v) VALUES (?)", {nullptr}); }), SQLITE_CONSTRAINT);
    // Parameters that don't match the statement are refused, not bound as NULL or dropped.
    EXPECT_EQ(failureCode([&] { db.run("INSERT INTO t (v) VALUES (?)"); }), SQLITE_RANGE);
    EXPECT_EQ(failureCode([&] { db.run("INSERT INTO t (v) VALUES (?)", {std::string("a"), std::string("b")}); }),
              SQLITE_RANGE);
    EXPECT_TRUE(db.query("SELECT * FROM t").empty());

    // A text beyond SQLite's length limit fails its bind instead of storing NULL.
    db.exec("CREATE TABLE n (v TEXT)");
    const int oldLimit = sqlite3_limit(db.handle(), SQLITE_LIMIT_LENGTH, 40);
    EXPECT_EQ(failureCode([&] { db.run("INSERT INTO n (v) VALUES (?)", {std::string(100, 'x')}); }), SQLITE_TOOBIG);
    EXPECT_TRUE(db.query("SELECT * FROM n").empty());
    sqlite3_limit(db.handle(), SQLITE_LIMIT_LENGTH, oldLimit);

    EXPECT_EQ(db.run("INSERT INTO t (v) VALUES ('ok')"), 1);
    EXPECT_FALSE(db.inTransaction());
    db.exec("BEGIN");
    EXPECT_TRUE(db.inTransaction());
    db.exec("ROLLBACK");
}

TEST(SQLiteConnectionTest, AStatementRunAgainTakesItsNewParametersAndTheCurrentSchema) {
    SQLiteConnection db(":memory:");
    db.exec("CREATE TABLE t (id INTEGER PRIMARY KEY, v TEXT NOT NULL UNIQUE)");
    const std::string insert = "INSERT INTO t (v) VALUES (?)";
    const std::string select = "SELECT * FROM t WHERE v = ?";
    EXPECT_EQ(db.run(insert, {std::string("a")}), 1);
    EXPECT_EQ(failureCode([&] { db.run(insert, {std::string("a")}); }), SQLITE_CONSTRAINT);
    EXPECT_EQ(failureCode([&] { db.run(insert); }), SQLITE_RANGE);
    EXPECT_EQ(db.run(insert, {std::string("b")}), 2);
    EXPECT_EQ(db.query(select, {std::string("b")}).size(), 1u);
    EXPECT_TRUE(db.query(select, {std::string("c")}).empty());

    db.exec("ALTER TABLE t ADD COLUMN w INTEGER DEFAULT 7");
    auto rows = db.query(select, {std::string("a")});
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0]["w"], SQLValue(int64_t(7)));

    // The same text on two threads at once: each runs its own statement.
    auto readMany = [&](const std::string& value, int64_t id, int& wrong) {
        for (int i = 0; i < 500; ++i) {
            auto found = db.query(select, {value});
            if (found.size() != 1 || found[0]["id"] != SQLValue(id)) ++wrong;
        }
    };
    int wrongA = 0, wrongB = 0;
    std::thread other([&] { readMany("a", 1, wrongA); });
    readMany("b", 2, wrongB);
    other.join();
    EXPECT_EQ(wrongA + wrongB, 0);
}

TEST(SQLiteConnectionTest, WaitsForAnotherWriterThenReportsBusy) {
    test::TempDir dir;
    SQLiteConnection writer(dir / "db.sqlite");
    writer.exec("PRAGMA journal_mode = WAL; CREATE TABLE t (x)");
    SQLiteConnection waiting(dir / "db.sqlite", 50);
    writer.exec("BEGIN IMMEDIATE");
    EXPECT_EQ(failureCode([&] { waiting.run("INSERT INTO t VALUES (1)"); }), SQLITE_BUSY);
    writer.exec("COMMIT");
    waiting.run("INSERT INTO t VALUES (1)");
    EXPECT_EQ(writer.query("SELECT count(*) AS n FROM t")[0]["n"], SQLValue(int64_t(1)));
}
