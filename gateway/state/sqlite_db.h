// A thin hold on the SQLite C library for the store: a connection and its prepared statements,
// closed by their destructors, and every failure as an sqlite_error. Only the store's own files
// use it, and the store turns every sqlite_error into an answer (store_errc::unavailable): none
// leaves the store.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>

struct sqlite3;
struct sqlite3_stmt;

namespace gateway::state {

class sqlite_error : public std::runtime_error {
  public:
    sqlite_error(int code, const std::string& message) : std::runtime_error(message), code_(code) {}
    // The SQLite result code, extended (SQLITE_IOERR_WRITE, ...).
    int code() const { return code_; }
    // The primary code (SQLITE_IOERR, SQLITE_FULL, ...).
    int primary() const { return code_ & 0xff; }

  private:
    int code_;
};

class sqlite_statement {
  public:
    sqlite_statement(sqlite3* db, sqlite3_stmt* stmt) : db_(db), stmt_(stmt) {}
    // Reset, so that a statement left in the middle of its rows holds no read open.
    ~sqlite_statement();
    sqlite_statement(sqlite_statement&& other) noexcept
        : db_(other.db_), stmt_(std::exchange(other.stmt_, nullptr)) {}
    sqlite_statement(const sqlite_statement&) = delete;
    sqlite_statement& operator=(const sqlite_statement&) = delete;
    sqlite_statement& operator=(sqlite_statement&&) = delete;

    sqlite_statement& bind(int index, std::int64_t value);
    sqlite_statement& bind(int index, int value) { return bind(index, std::int64_t{value}); }
    sqlite_statement& bind(int index, double value);
    sqlite_statement& bind(int index, std::string_view text);
    sqlite_statement& bind(int index, const std::string& text) {
        return bind(index, std::string_view(text));
    }
    sqlite_statement& bind(int index, const char* text) {
        return bind(index, std::string_view(text));
    }
    sqlite_statement& bind_null(int index);
    template <class T>
    sqlite_statement& bind(int index, const std::optional<T>& value) {
        return value ? bind(index, *value) : bind_null(index);
    }

    // true: a row is ready; false: the statement is done.
    bool step();
    // Runs a statement that gives no rows.
    void run() {
        while (step()) {
        }
    }

    bool is_null(int column) const;
    std::int64_t integer(int column) const;
    double real(int column) const;
    std::string text(int column) const;
    std::optional<std::int64_t> optional_integer(int column) const;
    std::optional<std::string> optional_text(int column) const;

  private:
    sqlite3* db_ = nullptr;
    sqlite3_stmt* stmt_ = nullptr;  // owned by the connection's cache
};

class sqlite_db {
  public:
    // Opens path for reading and writing, creating it when missing.
    static sqlite_db open(const std::string& path, int busy_wait_ms);

    sqlite_db() = default;
    ~sqlite_db();
    sqlite_db(sqlite_db&& other) noexcept;
    sqlite_db& operator=(sqlite_db&& other) noexcept;
    sqlite_db(const sqlite_db&) = delete;
    sqlite_db& operator=(const sqlite_db&) = delete;

    // Runs statements that give no rows.
    void exec(const std::string& sql);
    // A statement of sql, prepared once per connection and reset for each use (its bindings
    // cleared). Valid until the connection closes.
    sqlite_statement prepare(const std::string& sql);
    // The value of a pragma that answers with one row.
    std::string pragma(const std::string& statement);
    std::int64_t last_insert_id() const;
    int changes() const;
    // true when the connection could open the database for reading only.
    bool read_only() const;

  private:
    explicit sqlite_db(sqlite3* db) : db_(db) {}
    void close();

    sqlite3* db_ = nullptr;
    std::map<std::string, sqlite3_stmt*, std::less<>> statements_;
};

// The failure of code on db as a sentence: SQLite's message, and the system's error where it
// has one ("disk I/O error (No space left on device)").
std::string describe_sqlite_failure(sqlite3* db, int code);

// A transaction that writes (BEGIN IMMEDIATE): rolled back unless committed.
class write_transaction {
  public:
    explicit write_transaction(sqlite_db& db);
    ~write_transaction();
    write_transaction(const write_transaction&) = delete;
    write_transaction& operator=(const write_transaction&) = delete;
    void commit();

  private:
    sqlite_db& db_;
    bool open_ = true;
};

}  // namespace gateway::state
