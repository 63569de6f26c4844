#include "gateway/controller_poller.h"

#include <algorithm>
#include <cstdio>

namespace gateway {

namespace {

double seconds_between(steady_clock::time_point from, steady_clock::time_point to) {
    return std::chrono::duration<double>(to - from).count();
}

}  // namespace

std::string describe_failure(const ifc_client::error& failure) {
    const std::string detail = failure.detail.empty() ? "" : " (" + failure.detail + ")";
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

poll_outcome poll_controller(const ifc_client::endpoint& where, std::chrono::milliseconds budget) {
    poll_outcome outcome;
    const auto start = steady_clock::now();
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

void controller_poller::stop() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
}

controller_view controller_poller::view() const {
    std::lock_guard lock(mutex_);
    return view_;
}

std::future<write_outcome> controller_poller::submit(write_request request) {
    write_job job{std::move(request), {}};
    auto future = job.done.get_future();
    {
        std::lock_guard lock(mutex_);
        if (stopping_ || queue_.size() >= max_queued_writes) {
            write_outcome busy;
            busy.result = write_result::unreachable;
            busy.message = stopping_ ? "the gateway is stopping"
                                     : "too many writes are waiting for this controller";
            busy.reply = {{"message", busy.message}};
            ++view_.writes[static_cast<std::size_t>(busy.result)];
            job.done.set_value(std::move(busy));
            return future;
        }
        queue_.push_back(std::move(job));
    }
    wake_.notify_all();
    return future;
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
            std::deque<write_job> jobs = std::move(queue_);
            queue_.clear();
            lock.unlock();
            const bool connected = run_writes(std::move(jobs));
            lock.lock();
            // A controller that was failing took the write: poll it now, not after the backoff.
            if (connected && !view_.reachable) next_poll = steady_clock::now();
            continue;
        }
        if (steady_clock::now() < next_poll) continue;
        const auto started = steady_clock::now();
        lock.unlock();
        const bool good = poll_once();
        lock.lock();
        next_poll = started + (good ? std::chrono::milliseconds(settings_.interval) : backoff());
    }
    for (write_job& job : queue_) {
        job.done.set_value(
            connection_failed({ifc_client::errc::closed, "the gateway is stopping"}));
    }
    queue_.clear();
}

// One line on standard output (the journal) whenever a controller becomes reachable or stops
// being so, and for the first poll.
void controller_poller::log_change(const std::string& what) const {
    std::printf("ifc-gateway: controller %s (%s): %s\n", address_.name.c_str(),
                address_.text().c_str(), what.c_str());
    std::fflush(stdout);
}

bool controller_poller::poll_once() {
    poll_outcome outcome = poll_controller(settings_.endpoint(address_), settings_.budget());
    std::shared_ptr<const machine_snapshot> snapshot;
    std::shared_ptr<const controller_json> json;
    if (outcome.snapshot) {
        json = std::make_shared<const controller_json>(outcome.snapshot.value());
        snapshot = std::make_shared<const machine_snapshot>(std::move(outcome.snapshot.value()));
    }
    std::lock_guard lock(mutex_);
    view_.polled = true;
    ++view_.polls;
    if (outcome.connected) ++view_.connections;
    view_.last_poll_seconds = outcome.poll_seconds;
    view_.max_hold_seconds = std::max(view_.max_hold_seconds, outcome.poll_seconds);
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
    return true;
}

bool controller_poller::run_writes(std::deque<write_job> jobs) {
    std::optional<machine_snapshot> updated;
    {
        std::lock_guard lock(mutex_);
        if (view_.snapshot) updated = *view_.snapshot;
    }
    const auto start = steady_clock::now();
    auto conn = ifc_client::connection::open(settings_.endpoint(address_));
    std::optional<ifc_client::error> broken;
    if (!conn) broken = conn.failure();
    std::vector<write_outcome> outcomes;
    for (write_job& job : jobs) {
        write_outcome outcome =
            broken ? connection_failed(*broken)
                   : apply_write(conn.value(), job.request, updated ? &*updated : nullptr);
        if (!broken && (outcome.result == write_result::unreachable ||
                        outcome.result == write_result::timeout)) {
            // The connection is gone or at an unknown place: the rest cannot be sent on it.
            broken = ifc_client::error{outcome.result == write_result::timeout
                                           ? ifc_client::errc::timeout
                                           : ifc_client::errc::closed,
                                       "an earlier write in the same session failed"};
        }
        outcomes.push_back(std::move(outcome));
    }
    if (conn && conn->is_open()) conn->disconnect();
    const double held = seconds_between(start, steady_clock::now());
    // The writes' read-backs changed the snapshot: its JSON is rendered anew, outside the lock.
    std::shared_ptr<const controller_json> json;
    if (updated && !broken) json = std::make_shared<const controller_json>(*updated);
    {
        std::lock_guard lock(mutex_);
        if (conn) ++view_.connections;
        view_.max_hold_seconds = std::max(view_.max_hold_seconds, held);
        for (const write_outcome& outcome : outcomes) {
            ++view_.writes[static_cast<std::size_t>(outcome.result)];
        }
        if (json) {
            view_.json = std::move(json);
            view_.snapshot = std::make_shared<const machine_snapshot>(std::move(*updated));
        }
    }
    for (std::size_t i = 0; i < jobs.size(); ++i)
        jobs[i].done.set_value(std::move(outcomes[i]));
    return conn.ok();
}

}  // namespace gateway
