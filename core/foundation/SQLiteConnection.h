#pragma once
// A thin synchronous wrapper around one SQLite database handle.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_map>
#include <variant>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace keldwick {

// One failure of the SQLite layer: the result code of the call that failed and the
// connection's error text. what() is "SQLite error " + code + ": " + message.
class SQLiteError : public std::runtime_error {
public:
    SQLiteError(int32_t code, std::string message);
    int32_t code() const { return code_; }
    const std::string& message() const { return message_; }
    std::string errorDescription() const { return what(); }

private:
    int32_t code_;
    std::string message_;
};

// One column value or one bound parameter: integer, real, text (bytes; may hold NULs) or
// null, in that order. Equal only when the same case holds equal payloads.
using SQLValue = std::variant<int64_t, double, std::string, std::nullptr_t>;

// One result row by column name; where two columns share a name the later one wins.
struct SQLRow {
    // The statement's column names, shared by all of its rows, and this row's values in
    // the same order.
    std::shared_ptr<const std::vector<std::string>> names;
    std::vector<SQLValue> values;

    // The value under `name`, or null when the row has no such column.
    const SQLValue& operator[](std::string_view name) const;
};

class SQLiteConnection {
public:
    static constexpr int defaultBusyTimeoutMilliseconds = 5000;

    // Opens (creating if needed) the database at `path`, or a private in-memory one for
    // ":memory:", in serialized threading mode, with a busy timeout so that another
    // process's write lock is waited for. Throws SQLiteError with the open's result code;
    // no handle stays open on failure.
    explicit SQLiteConnection(const std::string& path, int busyTimeoutMilliseconds = defaultBusyTimeoutMilliseconds);
    ~SQLiteConnection();
    SQLiteConnection(const SQLiteConnection&) = delete;
    SQLiteConnection& operator=(const SQLiteConnection&) = delete;

    // Runs one or more ";"-separated statements in order; rows are discarded.
    void exec(const std::string& sql);
    // Runs one statement with its parameters bound to ?1, ?2, ... in order, stepping past
    // any rows. Returns the row id of the connection's last successful insert (whatever
    // this statement was). The number of parameters must match the statement's.
    int64_t run(const std::string& sql, const std::vector<SQLValue>& parameters = {});
    // Runs one statement and returns its rows in order. BLOB columns read as null.
    std::vector<SQLRow> query(const std::string& sql, const std::vector<SQLValue>& parameters = {});
    // The same rows handed to `each` one at a time, in one row object whose values each
    // row overwrites: for reads of many rows that keep only part of each.
    void queryEach(const std::string& sql, const std::vector<SQLValue>& parameters,
                   const std::function<void(const SQLRow&)>& each);
    // PRAGMA user_version; 0 when it can't be read as an integer.
    int64_t userVersion();
    // True while a transaction is open on this connection.
    bool inTransaction() const;
    // The rows this connection's statements changed since it opened (sqlite3_total_changes64).
    int64_t totalChanges() const;
    // Flushes the write-ahead log with SQLite's own flush, the one a full commit ends with,
    // which makes every commit appended to it durable. Nothing to do before the log was
    // opened; throws SQLiteError when the log can't be reached or flushed.
    void flushWriteAheadLog();

    sqlite3* handle() const { return handle_; }

private:
    class Statement;
    Statement prepare(const std::string& sql, const std::vector<SQLValue>& parameters);
    [[noreturn]] void fail(int code) const;

    sqlite3* handle_ = nullptr;
    // Statements that ran before, reset, by their text: compiling one costs more than
    // running it. A statement in use is out of the cache, so two threads never share one.
    std::mutex cacheLock_;
    std::unordered_map<std::string, sqlite3_stmt*> cache_;
};

}  // namespace keldwick
