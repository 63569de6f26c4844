#include "gateway/controller_poller.h"

#include <algorithm>
#include <cstdio>

#include "gateway/journal.h"
#include "gateway/peer_text.h"

namespace gateway {

namespace {

double seconds_between(steady_clock::time_point from, steady_clock::time_point to) {
    return std::chrono::duration<double>(to - from).count();
}

}  // namespace

std::string describe_failure(const ifc_client::error& failure) {
    const std::string detail = failure.detail.empty() ? "" : " (" + peer_text(failure.detail) + ")";
    const std::string what(ifc_client::errc_name(failure.code));
    switch (failure.code) {
        case ifc_client::errc::timeout:
            return "busy or not answering: " + what + detail;
        case ifc_client::errc::refused:
            return "unreachable: " + what + detail;
        default:
            return "failing: " + what + detail;
    }
}

poll_outcome poll_controller(ifc_client::endpoint where, std::chrono::milliseconds budget) {
    poll_outcome outcome;
    const auto start = steady_clock::now();
    where.give_up = start + budget;
    auto conn = ifc_client::connection::open(where);
    if (!conn) {
        outcome.snapshot = conn.failure();
    } else {
        outcome.connected = true;
        outcome.snapshot = read_snapshot(conn.value(), start + budget);
        if (outcome.snapshot) {
            conn->disconnect();
        } else {
            conn->close();
        }
    }
    outcome.poll_seconds = seconds_between(start, steady_clock::now());
    return outcome;
}

controller_poller::controller_poller(controller_address address, poll_settings settings)
    : address_(std::move(address)), settings_(settings) {
    view_.address = address_;
}

controller_poller::~controller_poller() {
    stop();
}

void controller_poller::start(std::chrono::milliseconds first_poll_after) {
    thread_ = std::thread([this, first_poll_after] { run(first_poll_after); });
}

void controller_poller::request_stop() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
}

void controller_poller::stop() {
    request_stop();
    if (thread_.joinable()) thread_.join();
}

bool controller_poller::stopping() const {
    std::lock_guard lock(mutex_);
    return stopping_;
}

controller_view controller_poller::view() const {
    std::lock_guard lock(mutex_);
    return view_;
}

void controller_poller::submit(write_request request, write_done done) {
    write_job job;
    job.request = std::move(request);
    job.done = std::move(done);
    enqueue(std::move(job));
}

void controller_poller::submit_task(slot_task task, write_done done) {
    write_job job;
    job.done = std::move(done);
    job.task = std::move(task);
    enqueue(std::move(job));
}

void controller_poller::enqueue(write_job job) {
    std::optional<write_outcome> refused_now;
    {
        std::lock_guard lock(mutex_);
        if (stopping_) {
            refused_now = not_sent(write_result::unreachable, 503, "the gateway is stopping");
        } else if (queue_.size() >= settings_.max_queued_writes) {
            refused_now = not_sent(write_result::busy, 429,
                                   "too many writes are waiting for this controller (at most " +
                                       std::to_string(settings_.max_queued_writes) +
                                       "); try again in a moment");
        }
        if (refused_now) {
            if (!job.task) ++view_.writes[static_cast<std::size_t>(refused_now->result)];
        } else {
            job.queued = steady_clock::now();
            job.deadline = job.queued + settings_.write_deadline;
            queue_.push_back(std::move(job));
        }
    }
    if (refused_now) return answer(job, std::move(*refused_now));
    wake_.notify_all();
    if (on_queued_) on_queued_();
}

void controller_poller::set_drift(std::optional<drift_summary> drift) {
    std::lock_guard lock(mutex_);
    view_.drift = std::move(drift);
}

std::optional<steady_clock::time_point> controller_poller::expire_writes(
    steady_clock::time_point now) {
    std::vector<write_job> expired;
    std::optional<steady_clock::time_point> next;
    {
        std::lock_guard lock(mutex_);
        for (auto it = queue_.begin(); it != queue_.end();) {
            if (it->send_by(settings_) <= now) {
                expired.push_back(std::move(*it));
                it = queue_.erase(it);
                continue;
            }
            if (!next || it->send_by(settings_) < *next) next = it->send_by(settings_);
            ++it;
        }
        for (const write_job& job : expired) {
            if (!job.task) ++view_.writes[static_cast<std::size_t>(write_result::timeout)];
        }
    }
    for (write_job& job : expired) {
        answer(job, not_sent(write_result::timeout, 504,
                             "not sent: the controller was busy for longer than the write could "
                             "wait (its deadline is " +
                                 std::to_string(settings_.write_deadline.count()) + " ms)"));
    }
    return next;
}

void controller_poller::count_refused() {
    std::lock_guard lock(mutex_);
    ++view_.writes[static_cast<std::size_t>(write_result::refused)];
}

std::chrono::milliseconds controller_poller::backoff() const {
    // Doubles with every failure in a row, up to 16 intervals (at most a minute, at least one
    // interval): an unreachable controller is tried less often, a busy one is left alone.
    const auto failures = std::min<std::uint64_t>(view_.consecutive_failures, 5);
    const auto doubled = settings_.interval * (1 << (failures > 0 ? failures - 1 : 0));
    const auto ceiling = std::max(
        settings_.interval, std::min(settings_.interval * 16, std::chrono::milliseconds(60000)));
    return std::min(doubled, ceiling);
}

void controller_poller::run(std::chrono::milliseconds first_poll_after) {
    std::unique_lock lock(mutex_);
    auto next_poll = steady_clock::now() + first_poll_after;
    while (!stopping_) {
        wake_.wait_until(lock, next_poll, [&] { return stopping_ || !queue_.empty(); });
        if (stopping_) break;
        if (!queue_.empty()) {
            lock.unlock();
            bool connected = false;
            try {
                connected = run_writes();
            } catch (const std::exception& failure) {
                // A write left unanswered is answered 500 as its reply goes (http_api.cpp).
                record_internal_failure(failure.what());
            }
            lock.lock();
            // A controller that was failing took the write, or work in the slot may have
            // changed its settings: poll it now, not after the backoff.
            if ((connected && !view_.reachable) || poll_now_) next_poll = steady_clock::now();
            poll_now_ = false;
            continue;
        }
        if (steady_clock::now() < next_poll) continue;
        const auto started = steady_clock::now();
        lock.unlock();
        bool good = false;
        try {
            good = poll_once();
        } catch (const std::exception& failure) {
            // Out of memory, most likely: this poll is lost, the poller goes on.
            record_internal_failure(failure.what());
        }
        lock.lock();
        next_poll = started + (good ? std::chrono::milliseconds(settings_.interval) : backoff());
    }
    std::deque<write_job> left = std::move(queue_);
    queue_.clear();
    for (const write_job& job : left) {
        if (!job.task) ++view_.writes[static_cast<std::size_t>(write_result::unreachable)];
    }
    lock.unlock();
    for (write_job& job : left)
        answer(job, not_sent(write_result::unreachable, 503, "the gateway is stopping"));
}

// One line on standard output (the journal) whenever a controller becomes reachable or stops
// being so, and for the first poll.
void controller_poller::log_change(const std::string& what) const {
    journal_line("ifc-gateway: controller " + address_.name + " (" + address_.text() +
                 "): " + what);
}

void controller_poller::record_internal_failure(const std::string& what) {
    std::lock_guard lock(mutex_);
    ++view_.poll_failures;
    view_.last_error = "internal error: " + what;
}

bool controller_poller::poll_once() {
    poll_outcome outcome = poll_controller(settings_.endpoint(address_), settings_.budget());
    std::shared_ptr<const machine_snapshot> snapshot;
    std::shared_ptr<const controller_json> json;
    std::optional<drift_summary> drift;
    if (outcome.snapshot) {
        if (hooks_) drift = hooks_->polled(address_, outcome.snapshot.value());
        json = std::make_shared<const controller_json>(outcome.snapshot.value());
        snapshot = std::make_shared<const machine_snapshot>(std::move(outcome.snapshot.value()));
    }
    std::lock_guard lock(mutex_);
    // A poll cut short because the gateway stops tells nothing of the controller.
    if (stopping_ && !snapshot) return false;
    view_.polled = true;
    ++view_.polls;
    if (outcome.connected) ++view_.connections;
    view_.last_poll_seconds = outcome.poll_seconds;
    view_.poll_durations.observe(outcome.poll_seconds);
    // A poll that never connected held nothing of the controller.
    if (outcome.connected) view_.slot_holds.observe(outcome.poll_seconds);
    if (snapshot ? !view_.reachable : view_.reachable || view_.polls == 1) {
        log_change(snapshot ? std::string("reachable")
                            : describe_failure(outcome.snapshot.failure()));
    }
    if (!snapshot) {
        view_.reachable = false;
        ++view_.poll_failures;
        ++view_.consecutive_failures;
        view_.last_error = describe_failure(outcome.snapshot.failure());
        return false;
    }
    view_.reachable = true;
    view_.consecutive_failures = 0;
    view_.last_error.clear();
    view_.last_good = steady_clock::now();
    view_.last_good_wall = std::chrono::system_clock::now();
    view_.snapshot = std::move(snapshot);
    view_.json = std::move(json);
    if (hooks_) view_.drift = std::move(drift);
    return true;
}

std::optional<controller_poller::write_job> controller_poller::next_job() {
    std::lock_guard lock(mutex_);
    if (stopping_ || queue_.empty()) return std::nullopt;
    write_job job = std::move(queue_.front());
    queue_.pop_front();
    return job;
}

bool controller_poller::run_writes() {
    const auto start = steady_clock::now();
    write_session session;
    while (auto job = next_job()) {
        std::optional<machine_snapshot> updated;
        {
            std::lock_guard lock(mutex_);
            if (view_.snapshot) updated = *view_.snapshot;
        }
        write_outcome outcome;
        try {
            outcome = job->task ? run_task(*job, session)
                                : run_job(*job, session, updated ? &*updated : nullptr);
        } catch (const std::exception& failure) {
            // The write's outcome is not known: the connection is given up, the poller goes on.
            session.conn.reset();
            session.broken = ifc_client::error{ifc_client::errc::io, failure.what()};
            outcome = not_sent(write_result::unknown, 500,
                               std::string("internal error during the write (") + failure.what() +
                                   "): read the setting back");
            updated.reset();
        }
        finish_job(std::move(*job), std::move(outcome), std::move(updated));
    }
    if (session.conn && session.conn->is_open()) session.conn->disconnect();
    const double held = seconds_between(start, steady_clock::now());
    std::lock_guard lock(mutex_);
    view_.connections += static_cast<std::uint64_t>(session.connections);
    if (session.connections > 0) view_.slot_holds.observe(held);
    return session.connected;
}

write_outcome controller_poller::run_task(const write_job& job, write_session& session) {
    if (steady_clock::now() >= job.send_by(settings_)) {
        return not_sent(write_result::timeout, 504,
                        "not run: the controller was busy for longer than the work could wait "
                        "(its deadline is " +
                            std::to_string(settings_.write_deadline.count()) + " ms)");
    }
    // The controller has one client slot: the task's own connections need it.
    if (session.conn && session.conn->is_open()) session.conn->disconnect();
    session.conn.reset();
    auto where = settings_.endpoint(address_);
    where.give_up = job.deadline;
    job.task(where);
    ++session.connections;
    return not_sent(write_result::applied, 200, "");
}

write_outcome controller_poller::run_job(const write_job& job, write_session& session,
                                         machine_snapshot* snapshot) {
    const auto send_by = job.send_by(settings_);
    if (steady_clock::now() >= send_by) {
        return not_sent(write_result::timeout, 504,
                        "not sent: the controller was busy for longer than the write could wait "
                        "(its deadline is " +
                            std::to_string(settings_.write_deadline.count()) + " ms)");
    }
    if (session.broken) return connection_failed(*session.broken);
    if (!session.conn) {
        auto where = settings_.endpoint(address_);
        where.give_up = send_by;
        auto opened = ifc_client::connection::open(where);
        if (!opened) {
            session.broken = opened.failure();
            return connection_failed(opened.failure());
        }
        session.conn = std::move(opened.value());
        session.connected = true;
        ++session.connections;
    }
    session.conn->limit_to(send_by);
    write_outcome outcome = apply_write(*session.conn, job.request, snapshot);
    if (outcome.result == write_result::unknown) {
        // The request went out and may have been applied: one read-back on a fresh
        // connection tells what the controller holds now.
        auto where = settings_.endpoint(address_);
        where.give_up = job.deadline;
        auto fresh = ifc_client::connection::open(where);
        if (fresh) ++session.connections;
        outcome = unknown_outcome(*outcome.unknown_cause, job.request, fresh, snapshot);
    }
    if ((outcome.result == write_result::unreachable || outcome.result == write_result::timeout) &&
        stopping()) {
        // Cut short by the stop, before the request went out whole.
        outcome = not_sent(write_result::unreachable, 503,
                           "the gateway is stopping: the write was not sent");
    }
    if (outcome.result == write_result::unknown || outcome.result == write_result::unreachable ||
        outcome.result == write_result::timeout) {
        // The connection is gone or at an unknown place: the rest cannot be sent on it.
        session.broken = ifc_client::error{
            outcome.status == 504 ? ifc_client::errc::timeout : ifc_client::errc::closed,
            "not sent: an earlier write in the same session failed"};
    }
    return outcome;
}

void controller_poller::finish_job(write_job job, write_outcome outcome,
                                   std::optional<machine_snapshot> updated) {
    if (job.task) {
        {
            std::lock_guard lock(mutex_);
            poll_now_ = true;
        }
        return answer(job, std::move(outcome));
    }
    // The mill's logbook learns of the write before its client does, and before the next
    // poll of the controller.
    if (hooks_) hooks_->wrote(address_, job.request, outcome);
    // A read-back changed the snapshot: its JSON is rendered anew, outside the lock, so that a
    // reader after the answer sees what the answer says.
    const bool read_back = outcome.result == write_result::applied ||
                           outcome.result == write_result::not_applied ||
                           (outcome.result == write_result::unknown &&
                            !outcome.reply.value("values", nlohmann::ordered_json()).is_null());
    std::shared_ptr<const controller_json> json;
    if (updated && read_back) json = std::make_shared<const controller_json>(*updated);
    {
        std::lock_guard lock(mutex_);
        ++view_.writes[static_cast<std::size_t>(outcome.result)];
        if (json) {
            view_.json = std::move(json);
            view_.snapshot = std::make_shared<const machine_snapshot>(std::move(*updated));
        }
    }
    answer(job, std::move(outcome));
}

void controller_poller::answer(write_job& job, write_outcome outcome) {
    try {
        job.done(std::move(outcome));
    } catch (const std::exception&) {
        // The answer could not be made; the client's connection ends at the server's limits.
    }
}

}  // namespace gateway
