#include "gateway/state/sqlite_store.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "gateway/state/schema.h"

namespace gateway::state {

namespace {

std::string system_error_text() {
    return std::strerror(errno);
}

}  // namespace

sqlite_store::sqlite_store(std::string state_dir, sqlite_store_options options)
    : dir_(std::move(state_dir)),
      path_(dir_ + "/" + std::string(database_file_name)),
      options_(std::move(options)) {
    std::optional<store_health> changed;
    {
        std::lock_guard lock(mutex_);
        open_locked(true);
        changed = health_to_report();
    }
    report(changed);
}

sqlite_store::~sqlite_store() {
    std::lock_guard lock(mutex_);
    close_locked();
    if (lock_fd_ >= 0) ::close(lock_fd_);
}

std::unique_ptr<store> open_sqlite_store(const std::string& state_dir,
                                         sqlite_store_options options) {
    return std::make_unique<sqlite_store>(state_dir, std::move(options));
}

store_health sqlite_store::health() const {
    std::lock_guard lock(health_mutex_);
    return health_;
}

void sqlite_store::retry() {
    std::optional<store_health> changed;
    {
        std::lock_guard lock(mutex_);
        if (!db_) open_locked(true);
        changed = health_to_report();
    }
    report(changed);
}

bool sqlite_store::open_locked(bool now) {
    const auto time = clock::now();
    if (!now && time < next_open_) return false;
    next_open_ = time + options_.reopen_interval;

    if (::mkdir(dir_.c_str(), 0750) != 0 && errno != EEXIST) {
        set_health(false, false,
                   "cannot create the state directory " + dir_ + ": " + system_error_text());
        return false;
    }
    if (lock_fd_ < 0) {
        const std::string lock_path = dir_ + "/" + std::string(lock_file_name);
        int fd = ::open(lock_path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0640);
        if (fd < 0) {
            // A read-only file system: a lock file made earlier can still be locked.
            const std::string why = system_error_text();
            fd = ::open(lock_path.c_str(), O_RDONLY | O_CLOEXEC);
            if (fd < 0) {
                set_health(false, false, "cannot create " + lock_path + ": " + why);
                return false;
            }
        }
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            const bool taken = errno == EWOULDBLOCK;
            const std::string why = system_error_text();
            ::close(fd);
            set_health(false, false,
                       taken ? "another ifc-gateway uses the state directory " + dir_
                             : "cannot lock " + lock_path + ": " + why);
            return false;
        }
        lock_fd_ = fd;
    }

    try {
        sqlite_db db = sqlite_db::open(path_, static_cast<int>(options_.busy_wait.count()));
        if (db.read_only()) {
            const bool writable_dir = ::access(dir_.c_str(), W_OK) == 0;
            set_health(false, false,
                       "cannot write " + path_ + ": " +
                           (writable_dir ? std::string("the file can only be read")
                                         : system_error_text()));
            return false;
        }
        if (db.pragma("PRAGMA journal_mode=WAL") != "wal") {
            set_health(false, false, "cannot put " + path_ + " in WAL mode");
            return false;
        }
        // The write-ahead log is reused, not grown, once a checkpoint has emptied it; a
        // large transaction may leave it big, so it is cut back to this size.
        db.exec("PRAGMA synchronous=FULL; PRAGMA foreign_keys=ON; "
                "PRAGMA journal_size_limit=16777216");
        const int version = schema_version_of(db);
        if (version > schema_version) {
            set_health(false, false,
                       path_ + " was written by a newer ifc-gateway (schema version " +
                           std::to_string(version) + "; this one knows up to " +
                           std::to_string(schema_version) + "); it is left as it is");
            return false;
        }
        migrate(db);
        db_ = std::move(db);
        set_health(true, true, "");
        return true;
    } catch (const sqlite_error& failure) {
        note_failure(access::write, failure);
        return false;
    } catch (const std::exception& failure) {
        set_health(false, false, "cannot open " + path_ + ": " + failure.what());
        return false;
    }
}

void sqlite_store::close_locked() {
    db_.reset();
}

std::string sqlite_store::note_failure(access kind, const sqlite_error& failure) {
    const std::string what = failure.what();
    switch (failure.primary()) {
        case SQLITE_FULL:
            // Reads still work; the next write tries again.
            set_health(health().readable && db_.has_value(), false,
                       "cannot write " + path_ + ": " + what);
            break;
        case SQLITE_BUSY:
        case SQLITE_LOCKED:
            set_health(kind == access::read ? false : health().readable,
                       kind == access::write ? false : health().writable,
                       path_ + " is locked by another program: " + what);
            break;
        case SQLITE_CORRUPT:
        case SQLITE_NOTADB:
            close_locked();
            set_health(false, false,
                       path_ + " is damaged (" + what +
                           "): stop the gateway and move the file aside to start a new one");
            break;
        default:
            // A read-only or vanished file system, an I/O error: open the file again later.
            close_locked();
            set_health(false, false,
                       std::string(kind == access::read ? "cannot read " : "cannot write ") +
                           path_ + ": " + what);
            break;
    }
    return health().reason;
}

void sqlite_store::note_success(access kind) {
    const store_health now = health();
    if (kind == access::write) {
        if (!now.available()) set_health(true, true, "");
    } else if (!now.readable) {
        set_health(true, now.writable, now.writable ? "" : now.reason);
    }
}

void sqlite_store::set_health(bool readable, bool writable, std::string reason) {
    std::lock_guard lock(health_mutex_);
    health_ = store_health{readable, writable, std::move(reason)};
}

std::optional<store_health> sqlite_store::health_to_report() {
    const store_health now = health();
    if (now.available() == reported_available_) return std::nullopt;
    reported_available_ = now.available();
    return now;
}

void sqlite_store::report(const std::optional<store_health>& changed) const {
    if (!changed || !options_.on_health_change) return;
    try {
        options_.on_health_change(*changed);
    } catch (...) {
        // A report that fails changes nothing of the state.
    }
}

}  // namespace gateway::state
