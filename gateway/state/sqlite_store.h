// The store on SQLite: one database file, gateway.db, in the gateway's state directory, in WAL
// mode (readers never wait for the writer), every transaction flushed to the disk before it
// counts (synchronous=FULL: the logbook survives a power cut), the schema brought up to date
// when it opens (schema.h). A lock file beside it keeps a second gateway off the same directory.
//
// One connection serves every call, one call at a time: each is short (a page of the logbook,
// one roll-out's record, a batch of entries), so no caller waits long. When the database cannot
// be opened, read or written (a full disk, a read-only file system, a damaged file, a lock held
// by another program for longer than busy_wait), the call answers store_errc::unavailable with
// the reason and health() says so; a full disk is tried again at the next write, anything else
// by opening the file again, at most every reopen_interval. A damaged file is never removed or
// overwritten: the reason says to move it aside.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "gateway/state/sqlite_db.h"
#include "gateway/state/store.h"

namespace gateway::state {

inline constexpr std::string_view database_file_name = "gateway.db";
inline constexpr std::string_view lock_file_name = "gateway.lock";

struct sqlite_store_options {
    // The longest wait for a lock another program holds on the database.
    std::chrono::milliseconds busy_wait{250};
    // How often the calls try again to open a database that could not be opened.
    std::chrono::milliseconds reopen_interval{2000};
    // Called when the store becomes unavailable (not readable or not writable) or available
    // again, with the new health: from the thread whose call found out, outside the store's
    // lock, once per change. The gateway says it on stderr.
    std::function<void(const store_health&)> on_health_change;
};

class sqlite_store final : public store {
  public:
    // Creates the state directory when it is missing (not its parents) and opens the database;
    // never fails: a store that cannot open its database reports itself unavailable.
    sqlite_store(std::string state_dir, sqlite_store_options options = {});
    ~sqlite_store() override;
    sqlite_store(const sqlite_store&) = delete;
    sqlite_store& operator=(const sqlite_store&) = delete;

    const std::string& database_path() const { return path_; }

    store_health health() const override;
    void retry() override;

    store_result<library_version> add_version(const new_version& version) override;
    store_result<std::vector<library_version>> list_versions(const version_query& query) override;
    store_result<library_version> find_version(const version_ref& ref) override;
    store_result<library_version> find_version(std::int64_t id) override;
    store_result<library_version> hide_version(const version_ref& ref, const actor& by,
                                               const std::string& reason, instant at) override;
    store_result<std::vector<assignment>> list_assignments() override;
    store_status assign(std::span<const std::string> controllers,
                        const std::optional<version_ref>& ref, const actor& by,
                        const std::string& reason, instant at) override;

    store_result<rollout> create_rollout(const version_ref& ref,
                                         std::span<const std::string> controllers,
                                         const rollout_options& options, const actor& by,
                                         const std::string& reason, instant at) override;
    store_status set_rollout_state(std::int64_t id, rollout_state state,
                                   const std::string& end_reason, instant at) override;
    store_status set_rollout_machine(std::int64_t id, const rollout_machine& machine,
                                     std::span<const log_entry> entries) override;
    store_status skip_pending(std::int64_t id, const std::string& reason, instant at) override;
    store_result<rollout> find_rollout(std::int64_t id) override;
    store_result<std::vector<rollout>> list_rollouts(
        std::size_t limit, std::optional<std::int64_t> before_id) override;
    store_result<int> interrupt_unfinished(instant at) override;

    store_status append_log(std::span<const log_entry> entries) override;
    store_result<log_page> query_log(const log_query& query) override;
    store_result<std::size_t> prune_log(instant before, std::size_t at_most) override;

    store_result<std::vector<machine_baseline>> list_baselines() override;
    store_status save_baselines(std::span<const machine_baseline> baselines) override;

  private:
    enum class access { read, write };
    using clock = std::chrono::steady_clock;

    // Runs work(db) under the store's lock on an open database, turning every failure into
    // an answer and keeping the health up to date.
    template <class T, class Work>
    store_result<T> with_db(access kind, Work&& work);

    // Under mutex_: opens the database when it is time to try; true when it is open.
    bool open_locked(bool now);
    void close_locked();
    // Under mutex_: what a failure of kind means for the health, and the reason.
    std::string note_failure(access kind, const sqlite_error& failure);
    void note_success(access kind);
    void set_health(bool readable, bool writable, std::string reason);
    // Under mutex_: the health to report, when it changed since the last report.
    std::optional<store_health> health_to_report();
    void report(const std::optional<store_health>& changed) const;

    const std::string dir_;
    const std::string path_;
    const sqlite_store_options options_;

    std::mutex mutex_;  // one call at a time on the connection
    std::optional<sqlite_db> db_;
    int lock_fd_ = -1;
    clock::time_point next_open_{};

    mutable std::mutex health_mutex_;  // health() never waits for a call under way
    store_health health_;
    bool reported_available_ = true;
};

std::unique_ptr<store> open_sqlite_store(const std::string& state_dir,
                                         sqlite_store_options options = {});

template <class T, class Work>
store_result<T> sqlite_store::with_db(access kind, Work&& work) {
    store_result<T> answer = unavailable("");
    std::optional<store_health> changed;
    {
        std::lock_guard lock(mutex_);
        if (!db_ && !open_locked(false)) {
            answer = unavailable(health().reason);
        } else {
            try {
                answer = work(*db_);
                note_success(kind);
            } catch (const sqlite_error& failure) {
                answer = unavailable(note_failure(kind, failure));
            } catch (const std::exception& failure) {
                // Not the database's fault (memory): the health stays as it is.
                answer = unavailable(std::string("the state could not be read or written: ") +
                                     failure.what());
            }
        }
        changed = health_to_report();
    }
    report(changed);
    return answer;
}

}  // namespace gateway::state
