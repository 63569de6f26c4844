#include "gateway/state/sqlite_db.h"

#include <sqlite3.h>

#include <cstring>
#include <utility>

namespace gateway::state {

namespace {

[[noreturn]] void fail(sqlite3* db, int code) {
    throw sqlite_error(code, describe_sqlite_failure(db, code));
}

}  // namespace

std::string describe_sqlite_failure(sqlite3* db, int code) {
    std::string text = db != nullptr && sqlite3_extended_errcode(db) == code ? sqlite3_errmsg(db)
                                                                             : sqlite3_errstr(code);
    const int system = db != nullptr ? sqlite3_system_errno(db) : 0;
    if (system != 0) text += std::string(" (") + std::strerror(system) + ")";
    return text;
}

sqlite_statement::~sqlite_statement() {
    if (stmt_ != nullptr) sqlite3_reset(stmt_);
}

sqlite_statement& sqlite_statement::bind(int index, std::int64_t value) {
    if (const int rc = sqlite3_bind_int64(stmt_, index, value); rc != SQLITE_OK) fail(db_, rc);
    return *this;
}

sqlite_statement& sqlite_statement::bind(int index, double value) {
    if (const int rc = sqlite3_bind_double(stmt_, index, value); rc != SQLITE_OK) fail(db_, rc);
    return *this;
}

sqlite_statement& sqlite_statement::bind(int index, std::string_view text) {
    const int rc =
        sqlite3_bind_text64(stmt_, index, text.data(), text.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
    if (rc != SQLITE_OK) fail(db_, rc);
    return *this;
}

sqlite_statement& sqlite_statement::bind_null(int index) {
    if (const int rc = sqlite3_bind_null(stmt_, index); rc != SQLITE_OK) fail(db_, rc);
    return *this;
}

bool sqlite_statement::step() {
    const int rc = sqlite3_step(stmt_);
    if (rc == SQLITE_ROW) return true;
    if (rc == SQLITE_DONE) return false;
    const int code = sqlite3_extended_errcode(db_);
    sqlite3_reset(stmt_);
    fail(db_, code != SQLITE_OK ? code : rc);
}

bool sqlite_statement::is_null(int column) const {
    return sqlite3_column_type(stmt_, column) == SQLITE_NULL;
}

std::int64_t sqlite_statement::integer(int column) const {
    return sqlite3_column_int64(stmt_, column);
}

double sqlite_statement::real(int column) const {
    return sqlite3_column_double(stmt_, column);
}

std::string sqlite_statement::text(int column) const {
    const auto* bytes = sqlite3_column_text(stmt_, column);
    if (bytes == nullptr) return {};
    return std::string(reinterpret_cast<const char*>(bytes),
                       static_cast<std::size_t>(sqlite3_column_bytes(stmt_, column)));
}

std::optional<std::int64_t> sqlite_statement::optional_integer(int column) const {
    if (is_null(column)) return std::nullopt;
    return integer(column);
}

std::optional<std::string> sqlite_statement::optional_text(int column) const {
    if (is_null(column)) return std::nullopt;
    return text(column);
}

sqlite_db sqlite_db::open(const std::string& path, int busy_wait_ms) {
    sqlite3* db = nullptr;
    const int rc = sqlite3_open_v2(
        path.c_str(), &db,
        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX | SQLITE_OPEN_EXRESCODE,
        nullptr);
    sqlite_db opened(db);  // closes it on every way out
    if (rc != SQLITE_OK) fail(db, rc);
    sqlite3_extended_result_codes(db, 1);
    sqlite3_busy_timeout(db, busy_wait_ms);
    return opened;
}

sqlite_db::~sqlite_db() {
    close();
}

sqlite_db::sqlite_db(sqlite_db&& other) noexcept
    : db_(std::exchange(other.db_, nullptr)), statements_(std::move(other.statements_)) {
    other.statements_.clear();
}

sqlite_db& sqlite_db::operator=(sqlite_db&& other) noexcept {
    if (this != &other) {
        close();
        db_ = std::exchange(other.db_, nullptr);
        statements_ = std::move(other.statements_);
        other.statements_.clear();
    }
    return *this;
}

void sqlite_db::close() {
    for (auto& [sql, stmt] : statements_)
        sqlite3_finalize(stmt);
    statements_.clear();
    if (db_ != nullptr) sqlite3_close_v2(db_);
    db_ = nullptr;
}

void sqlite_db::exec(const std::string& sql) {
    char* message = nullptr;
    const int rc = sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &message);
    sqlite3_free(message);
    if (rc != SQLITE_OK) fail(db_, sqlite3_extended_errcode(db_));
}

sqlite_statement sqlite_db::prepare(const std::string& sql) {
    auto found = statements_.find(sql);
    if (found == statements_.end()) {
        sqlite3_stmt* stmt = nullptr;
        const int rc = sqlite3_prepare_v3(db_, sql.c_str(), static_cast<int>(sql.size() + 1),
                                          SQLITE_PREPARE_PERSISTENT, &stmt, nullptr);
        if (rc != SQLITE_OK) fail(db_, rc);
        found = statements_.emplace(sql, stmt).first;
    }
    sqlite3_reset(found->second);
    sqlite3_clear_bindings(found->second);
    return sqlite_statement(db_, found->second);
}

std::string sqlite_db::pragma(const std::string& statement) {
    auto stmt = prepare(statement);
    std::string value = stmt.step() ? stmt.text(0) : std::string();
    stmt.run();
    return value;
}

std::int64_t sqlite_db::last_insert_id() const {
    return sqlite3_last_insert_rowid(db_);
}

int sqlite_db::changes() const {
    return sqlite3_changes(db_);
}

bool sqlite_db::read_only() const {
    return sqlite3_db_readonly(db_, "main") == 1;
}

write_transaction::write_transaction(sqlite_db& db) : db_(db) {
    db_.exec("BEGIN IMMEDIATE");
}

write_transaction::~write_transaction() {
    if (!open_) return;
    try {
        db_.exec("ROLLBACK");
    } catch (const sqlite_error&) {
        // SQLite may have rolled back already (a full disk, an I/O error).
    }
}

void write_transaction::commit() {
    db_.exec("COMMIT");
    open_ = false;
}

}  // namespace gateway::state
