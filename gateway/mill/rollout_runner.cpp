#include "gateway/mill/rollout_runner.h"

#include "gateway/json_text.h"
#include "gateway/mill/change_json.h"
#include "gateway/mill/rollout_outcome.h"
#include "gateway/mill/settings_library.h"

namespace gateway::mill {

using state::machine_state;
using state::rollout_state;
using state::store_status;

namespace {

constexpr std::string_view cancelled_text = "the roll-out was cancelled";
constexpr std::string_view interrupted_text = "the roll-out was interrupted";
constexpr std::string_view stopped_gateway_text = "the gateway stopped during the roll-out";

// The rollout's machines of one state, in order.
std::vector<state::rollout_machine> machines_in(const state::rollout& r, machine_state s) {
    std::vector<state::rollout_machine> out;
    for (const auto& m : r.machines) {
        if (m.state == s) out.push_back(m);
    }
    return out;
}

// Runs work(i) for i in 0..count, at most parallel at once (this thread one of them), taking
// the next i only while go() says so.
template <class Go, class Work>
void in_parallel(std::size_t count, int parallel, Go go, Work work) {
    std::mutex mutex;
    std::size_t next = 0;
    const auto worker = [&] {
        for (;;) {
            std::size_t i = 0;
            {
                std::lock_guard lock(mutex);
                if (next >= count || !go()) return;
                i = next++;
            }
            work(i);
        }
    };
    std::vector<std::thread> helpers;
    const auto extra =
        std::min<std::size_t>(count, static_cast<std::size_t>(std::max(parallel, 1)));
    for (std::size_t t = 1; t < extra; ++t)
        helpers.emplace_back(worker);
    worker();
    for (auto& t : helpers)
        t.join();
}

ifc_client::result<ifc_client::apply_report> guarded_apply(
    machine_access& machines, const std::string& controller,
    const ifc_client::settings_document& wanted, const ifc_client::apply_options& options) {
    try {
        return machines.apply(controller, wanted, options);
    } catch (const std::exception& failure) {
        return ifc_client::error{ifc_client::errc::io, failure.what()};
    }
}

}  // namespace

rollout_runner::rollout_runner(state::store& store, machine_access& machines, change_watch* watch)
    : store_(store), machines_(machines), watch_(watch) {}

rollout_runner::~rollout_runner() {
    stopping_ = true;
    std::vector<std::unique_ptr<job>> all;
    {
        std::lock_guard lock(mutex_);
        for (auto& [id, work] : jobs_)
            all.push_back(std::move(work));
        jobs_.clear();
    }
    for (auto& work : all) {
        if (work->thread.joinable()) work->thread.join();
    }
}

state::store_result<int> rollout_runner::recover() {
    std::lock_guard lock(mutex_);
    return recover_locked();
}

state::store_result<int> rollout_runner::recover_locked() {
    if (recovered_) return 0;
    auto marked = store_.interrupt_unfinished(state::now());
    if (marked) recovered_ = true;
    return marked;
}

void rollout_runner::reap_locked() {
    for (auto it = jobs_.begin(); it != jobs_.end();) {
        if (it->second->busy) {
            ++it;
            continue;
        }
        // An idle job's thread has nothing left to do but return.
        if (it->second->thread.joinable()) it->second->thread.join();
        it = jobs_.erase(it);
    }
}

store_status rollout_runner::spawn(std::int64_t id, bool running) {
    reap_locked();
    if (jobs_.contains(id)) return state::conflict("roll-out " + std::to_string(id) + " is busy");
    if (jobs_.size() >= max_busy) {
        return state::conflict(std::to_string(max_busy) +
                               " roll-outs are being planned or run; wait for one to end");
    }
    auto work = std::make_unique<job>();
    work->running = running;
    job& ref = *work;
    jobs_.emplace(id, std::move(work));
    ref.thread = std::thread([this, id, &ref, running] {
        if (running) {
            run(id, ref);
        } else {
            dry_run(id, ref);
        }
    });
    return state::done{};
}

state::store_result<state::rollout> rollout_runner::plan(const rollout_request& request) {
    for (const std::string& controller : request.controllers) {
        if (!machines_.knows(controller)) {
            return state::invalid("the gateway has no controller " + controller);
        }
    }
    std::lock_guard lock(mutex_);
    if (auto recovered = recover_locked(); !recovered) return recovered.failure();
    reap_locked();
    if (jobs_.size() >= max_busy) {
        return state::conflict(std::to_string(max_busy) +
                               " roll-outs are being planned or run; wait for one to end");
    }
    auto created = store_.create_rollout(request.version, request.controllers, request.options,
                                         request.by, request.reason, state::now());
    if (!created) return created;
    if (auto spawned = spawn(created->id, false); !spawned) return spawned.failure();
    return created;
}

store_status rollout_runner::start(std::int64_t id) {
    std::lock_guard lock(mutex_);
    if (auto recovered = recover_locked(); !recovered) return recovered.failure();
    auto r = store_.find_rollout(id);
    if (!r) return r.failure();
    if (r->state != rollout_state::planned) {
        return state::conflict("roll-out " + std::to_string(id) + " is " +
                               std::string(state_name(r->state)) +
                               "; only a planned roll-out can be started");
    }
    reap_locked();
    for (const auto& [other, work] : jobs_) {
        if (work->running) {
            return state::conflict("roll-out " + std::to_string(other) +
                                   " is running; one roll-out runs at a time");
        }
    }
    auto version = store_.find_version(r->version_id);
    if (!version) return version.failure();
    if (version->hidden()) {
        return state::conflict(state::version_label(version->ref) +
                               " was hidden after the roll-out was planned");
    }
    if (auto set = store_.set_rollout_state(id, rollout_state::running, "", state::now()); !set) {
        return set;
    }
    return spawn(id, true);
}

store_status rollout_runner::resume(std::int64_t id) {
    std::lock_guard lock(mutex_);
    if (auto recovered = recover_locked(); !recovered) return recovered.failure();
    auto r = store_.find_rollout(id);
    if (!r) return r.failure();
    if (r->state != rollout_state::paused) {
        return state::conflict("roll-out " + std::to_string(id) + " is " +
                               std::string(state_name(r->state)) + ", not paused");
    }
    if (auto set = store_.set_rollout_state(id, rollout_state::running, "", state::now()); !set) {
        return set;
    }
    return spawn(id, true);
}

store_status rollout_runner::cancel(std::int64_t id) {
    std::lock_guard lock(mutex_);
    if (auto recovered = recover_locked(); !recovered) return recovered.failure();
    if (const auto found = jobs_.find(id); found != jobs_.end() && found->second->busy) {
        found->second->cancel = true;
        return state::done{};
    }
    auto r = store_.find_rollout(id);
    if (!r) return r.failure();
    if (state::is_final(r->state)) {
        return state::conflict("roll-out " + std::to_string(id) + " has ended (" +
                               std::string(state_name(r->state)) + ")");
    }
    const auto at = state::now();
    if (auto skipped = store_.skip_pending(id, std::string(cancelled_text), at); !skipped) {
        return skipped;
    }
    return store_.set_rollout_state(id, rollout_state::cancelled, std::string(cancelled_text), at);
}

bool rollout_runner::wait(std::int64_t id, std::chrono::milliseconds limit) {
    std::unique_lock lock(mutex_);
    return idle_.wait_for(lock, limit, [&] {
        const auto found = jobs_.find(id);
        return found == jobs_.end() || !found->second->busy;
    });
}

void rollout_runner::finish(std::int64_t id, job& work, std::optional<rollout_state> state,
                            const std::string& why) {
    std::lock_guard lock(mutex_);
    // A cancel that came after the job's last look still counts.
    if (work.cancel && state &&
        (*state == rollout_state::planned || *state == rollout_state::paused)) {
        state = rollout_state::cancelled;
    }
    if (state) {
        const auto at = state::now();
        std::string end_reason = why;
        std::string skip_reason = why;
        if (*state == rollout_state::cancelled) end_reason = skip_reason = cancelled_text;
        if (*state == rollout_state::interrupted) {
            end_reason = stopped_gateway_text;
            skip_reason = interrupted_text;
        }
        if (*state == rollout_state::stopped) skip_reason = "left untouched: " + why;
        if (state::is_final(*state)) store_.skip_pending(id, skip_reason, at);
        store_.set_rollout_state(id, *state, state::is_final(*state) ? end_reason : "", at);
    }
    work.busy = false;
    idle_.notify_all();
}

void rollout_runner::dry_run(std::int64_t id, job& work) {
    auto r = store_.find_rollout(id);
    if (!r) return finish(id, work, std::nullopt, "");
    auto version = store_.find_version(r->version_id);
    auto wanted = version ? document_of(version.value()) : version.failure();
    if (!wanted) {
        return finish(id, work, rollout_state::stopped,
                      "the version cannot be read: " + wanted.failure().reason);
    }
    const auto go = [&] { return !work.cancel && !stopping_; };
    in_parallel(r->machines.size(), planning_parallel, go, [&](std::size_t i) {
        state::rollout_machine m = r->machines[i];
        ifc_client::apply_options dry;
        dry.dry_run = true;
        const auto report = guarded_apply(machines_, m.controller, wanted.value(), dry);
        if (report) {
            m.planned_values = static_cast<int>(report->values());
            m.plan = json_text(plan_json(report->steps));
            m.reason.clear();
        } else {
            m.planned_values.reset();
            m.plan.clear();
            m.reason = "the dry run could not read it: " + error_text(report.failure());
        }
        store_.set_rollout_machine(id, m, {});
    });
    if (stopping_) return finish(id, work, rollout_state::interrupted, "");
    if (work.cancel) return finish(id, work, rollout_state::cancelled, "");
    finish(id, work, rollout_state::planned, "");
}

machine_state rollout_runner::write_machine(const state::rollout& r, state::rollout_machine m,
                                            const ifc_client::settings_document& wanted,
                                            std::string& halt_reason) {
    m.state = machine_state::running;
    m.started_at = state::now();
    m.reason.clear();
    // Its record says "running" before anything is sent: a gateway that stops during the
    // write leaves a machine of unknown outcome, never one that looks untouched.
    if (auto kept = store_.set_rollout_machine(r.id, m, {}); !kept) {
        halt_reason = "the state database cannot be written (" + kept.failure().reason + "); " +
                      m.controller + " was not touched";
        return machine_state::failed;
    }
    const own_write_author author{r.by, r.reason, r.id};
    if (watch_ != nullptr) watch_->begin_own_write(m.controller, keys_of(wanted), author);
    const auto start = std::chrono::steady_clock::now();
    const auto applied = guarded_apply(machines_, m.controller, wanted, {});
    m.apply_ms =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    const machine_outcome outcome =
        outcome_of(applied, write_author{m.controller, r.by, r.reason, state::now()});
    if (watch_ != nullptr)
        watch_->end_own_write(m.controller, outcome.now ? &*outcome.now : nullptr);
    m.state = outcome.state;
    m.reason = outcome.reason;
    m.changes = outcome.changes;
    m.values_written = outcome.values_written;
    m.ended_at = state::now();
    // The machine has been written: its record matters, so a failing database gets a few
    // more tries before the roll-out gives up.
    state::store_status kept = store_.set_rollout_machine(r.id, m, outcome.entries);
    for (int attempt = 1; !kept && attempt < 4; ++attempt) {
        std::this_thread::sleep_for(std::chrono::milliseconds(250 * attempt));
        kept = store_.set_rollout_machine(r.id, m, outcome.entries);
    }
    if (!kept) {
        halt_reason = "the outcome of " + m.controller +
                      " could not be kept in the state database (" + kept.failure().reason + ")";
        return machine_state::failed;
    }
    if (m.state != machine_state::applied) {
        halt_reason = m.controller + " was not applied (" + std::string(state_name(m.state)) +
                      "): " + m.reason;
    }
    return m.state;
}

void rollout_runner::run(std::int64_t id, job& work) {
    auto r = store_.find_rollout(id);
    // Without its record nothing is written; the roll-out stays running in the database and a
    // restart marks it interrupted.
    if (!r) return finish(id, work, std::nullopt, "");
    auto version = store_.find_version(r->version_id);
    auto wanted = version ? document_of(version.value()) : version.failure();
    if (!wanted) {
        return finish(id, work, rollout_state::stopped,
                      "the version cannot be read: " + wanted.failure().reason);
    }
    std::vector<state::rollout_machine> pending = machines_in(r.value(), machine_state::pending);
    std::mutex halt_mutex;
    std::string halt_reason;
    const auto go = [&] {
        std::lock_guard lock(halt_mutex);
        return halt_reason.empty() && !work.cancel && !stopping_;
    };
    const auto write = [&](const state::rollout_machine& m) {
        std::string why;
        if (write_machine(r.value(), m, wanted.value(), why) != machine_state::applied) {
            std::lock_guard lock(halt_mutex);
            if (halt_reason.empty()) halt_reason = why;
        }
    };

    // The first machine alone.
    if (!pending.empty() && pending.front().position == 0) {
        if (go()) write(pending.front());
        pending.erase(pending.begin());
        if (go() && r->options.pause_after_first && !pending.empty()) {
            return finish(id, work, rollout_state::paused, "");
        }
    }
    in_parallel(pending.size(), r->options.parallel, go, [&](std::size_t i) { write(pending[i]); });

    if (!halt_reason.empty()) return finish(id, work, rollout_state::stopped, halt_reason);
    if (stopping_) return finish(id, work, rollout_state::interrupted, "");
    if (work.cancel) return finish(id, work, rollout_state::cancelled, "");
    finish(id, work, rollout_state::completed, "");
}

}  // namespace gateway::mill
