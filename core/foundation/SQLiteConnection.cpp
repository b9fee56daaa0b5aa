#include "foundation/SQLiteConnection.h"

#include <sqlite3.h>

#include <algorithm>
#include <climits>
#include <type_traits>

namespace keldwick {

SQLiteError::SQLiteError(int32_t code, std::string message)
    : std::runtime_error("SQLite error " + std::to_string(code) + ": " + message),
      code_(code),
      message_(std::move(message)) {}

const SQLValue& SQLRow::operator[](std::string_view name) const {
    static const SQLValue null = nullptr;
    if (!names) return null;
    // A row has a few dozen columns at most: a look along them beats any index.
    for (size_t c = std::min(names->size(), values.size()); c-- > 0;)
        if ((*names)[c] == name) return values[c];
    return null;
}

namespace {

// Enough for every statement the journal runs; others are compiled each time.
constexpr size_t cachedStatementLimit = 64;

}  // namespace

// Owns one prepared statement on every way out of run() and query(): reset and handed
// back to the connection's cache, or finalized when the cache has it already or is full.
class SQLiteConnection::Statement {
public:
    Statement(SQLiteConnection& connection, const std::string& sql, sqlite3_stmt* statement)
        : connection_(&connection), sql_(&sql), statement_(statement) {}
    ~Statement() {
        if (!statement_) return;
        sqlite3_reset(statement_);
        sqlite3_clear_bindings(statement_);
        {
            std::lock_guard guard(connection_->cacheLock_);
            auto& cache = connection_->cache_;
            if (cache.size() < cachedStatementLimit && cache.emplace(*sql_, statement_).second) return;
        }
        sqlite3_finalize(statement_);
    }
    Statement(Statement&& other) noexcept
        : connection_(other.connection_), sql_(other.sql_), statement_(other.statement_) {
        other.statement_ = nullptr;
    }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;
    sqlite3_stmt* get() const { return statement_; }

private:
    SQLiteConnection* connection_;
    const std::string* sql_;
    sqlite3_stmt* statement_;
};

SQLiteConnection::SQLiteConnection(const std::string& path, int busyTimeoutMilliseconds) {
    sqlite3* handle = nullptr;
    const int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX;
    const int rc = sqlite3_open_v2(path.c_str(), &handle, flags, nullptr);
    if (rc == SQLITE_OK && handle != nullptr) {
        handle_ = handle;
        sqlite3_busy_timeout(handle_, busyTimeoutMilliseconds);
        return;
    }
    std::string message = handle != nullptr ? sqlite3_errmsg(handle) : "cannot open database";
    sqlite3_close(handle);
    throw SQLiteError(rc, std::move(message));
}

SQLiteConnection::~SQLiteConnection() {
    for (auto& [sql, statement] : cache_) sqlite3_finalize(statement);
    sqlite3_close_v2(handle_);
}

void SQLiteConnection::fail(int code) const { throw SQLiteError(code, sqlite3_errmsg(handle_)); }

void SQLiteConnection::exec(const std::string& sql) {
    const int rc = sqlite3_exec(handle_, sql.c_str(), nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) fail(rc);
}

SQLiteConnection::Statement SQLiteConnection::prepare(const std::string& sql,
                                                      const std::vector<SQLValue>& parameters) {
    sqlite3_stmt* raw = nullptr;
    {
        std::lock_guard guard(cacheLock_);
        if (auto cached = cache_.find(sql); cached != cache_.end()) {
            raw = cached->second;
            cache_.erase(cached);
        }
    }
    if (raw == nullptr) {
        const int rc = sqlite3_prepare_v2(handle_, sql.c_str(), -1, &raw, nullptr);
        if (rc != SQLITE_OK) fail(rc);
        // Text that holds no statement (only white space or a comment) yields no statement
        // and the result code SQLITE_OK.
        if (raw == nullptr) fail(rc);
    }
    Statement statement(*this, sql, raw);

    // A missing parameter would be bound as NULL and a NOT NULL-less column would store
    // it silently, so the counts must agree.
    const int expected = sqlite3_bind_parameter_count(raw);
    if (static_cast<size_t>(expected) != parameters.size()) {
        throw SQLiteError(SQLITE_RANGE, "statement takes " + std::to_string(expected) + " parameters, " +
                                            std::to_string(parameters.size()) + " given");
    }
    for (size_t i = 0; i < parameters.size(); ++i) {
        const int position = static_cast<int>(i + 1);
        const int bound = std::visit(
            [&](const auto& value) -> int {
                using T = std::decay_t<decltype(value)>;
                if constexpr (std::is_same_v<T, int64_t>) {
                    return sqlite3_bind_int64(raw, position, value);
                } else if constexpr (std::is_same_v<T, double>) {
                    return sqlite3_bind_double(raw, position, value);
                } else if constexpr (std::is_same_v<T, std::string>) {
                    // The explicit length keeps NUL bytes inside the text.
                    return sqlite3_bind_text64(raw, position, value.data(), value.size(), SQLITE_TRANSIENT,
                                               SQLITE_UTF8);
                } else {
                    return sqlite3_bind_null(raw, position);
                }
            },
            parameters[i]);
        // A failed bind leaves NULL in its place; storing that would report success falsely.
        if (bound != SQLITE_OK) fail(bound);
    }
    return statement;
}

int64_t SQLiteConnection::run(const std::string& sql, const std::vector<SQLValue>& parameters) {
    Statement statement = prepare(sql, parameters);
    int rc;
    do {
        rc = sqlite3_step(statement.get());
    } while (rc == SQLITE_ROW);
    if (rc != SQLITE_DONE) fail(rc);
    return sqlite3_last_insert_rowid(handle_);
}

std::vector<SQLRow> SQLiteConnection::query(const std::string& sql, const std::vector<SQLValue>& parameters) {
    std::vector<SQLRow> rows;
    queryEach(sql, parameters, [&](const SQLRow& row) { rows.push_back(row); });
    return rows;
}

void SQLiteConnection::queryEach(const std::string& sql, const std::vector<SQLValue>& parameters,
                                 const std::function<void(const SQLRow&)>& each) {
    Statement statement = prepare(sql, parameters);
    sqlite3_stmt* raw = statement.get();
    SQLRow row;
    for (;;) {
        const int rc = sqlite3_step(raw);
        if (rc == SQLITE_DONE) return;
        if (rc != SQLITE_ROW) fail(rc);
        const int columns = sqlite3_column_count(raw);
        if (!row.names) {
            auto named = std::make_shared<std::vector<std::string>>();
            for (int c = 0; c < columns; ++c) {
                const char* name = sqlite3_column_name(raw, c);
                named->emplace_back(name != nullptr ? name : "");
            }
            row.names = std::move(named);
            row.values.resize(size_t(columns));
        }
        for (int c = 0; c < columns; ++c) {
            SQLValue& value = row.values[size_t(c)];
            switch (sqlite3_column_type(raw, c)) {
                case SQLITE_INTEGER: value = static_cast<int64_t>(sqlite3_column_int64(raw, c)); break;
                case SQLITE_FLOAT: value = sqlite3_column_double(raw, c); break;
                case SQLITE_TEXT: {
                    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(raw, c));
                    const int length = sqlite3_column_bytes(raw, c);
                    if (text == nullptr && sqlite3_errcode(handle_) == SQLITE_NOMEM) fail(SQLITE_NOMEM);
                    // The previous row's text keeps its buffer for this one.
                    if (!std::holds_alternative<std::string>(value)) value = std::string();
                    std::get<std::string>(value).assign(text != nullptr ? text : "", text != nullptr ? size_t(length) : 0);
                    break;
                }
                default: value = nullptr; break;  // BLOB and NULL
            }
        }
        each(row);
    }
}

int64_t SQLiteConnection::userVersion() {
    auto rows = query("PRAGMA user_version");
    if (rows.empty()) return 0;
    const auto& value = rows.front()["user_version"];
    if (const auto* version = std::get_if<int64_t>(&value)) return *version;
    return 0;
}

bool SQLiteConnection::inTransaction() const { return sqlite3_get_autocommit(handle_) == 0; }

int64_t SQLiteConnection::totalChanges() const { return sqlite3_total_changes64(handle_); }

void SQLiteConnection::flushWriteAheadLog() {
    sqlite3_file* file = nullptr;
    int code = sqlite3_file_control(handle_, "main", SQLITE_FCNTL_JOURNAL_POINTER, &file);
    if (code != SQLITE_OK) throw SQLiteError(code, "the write-ahead log can't be reached");
    if (!file || !file->pMethods) return;  // not opened yet: nothing was written to it
    code = file->pMethods->xSync(file, SQLITE_SYNC_NORMAL);
    if (code != SQLITE_OK) throw SQLiteError(code, "the write-ahead log couldn't be flushed");
}

}  // namespace keldwick
