#include "gateway/mill/logbook.h"

#include <algorithm>

namespace gateway::mill {

logbook::logbook(state::store& store, logbook_options options)
    : store_(store), options_(std::move(options)) {
    prune_at_ = clock::now() + options_.prune_pause;
    thread_ = std::thread([this] { run(); });
}

logbook::~logbook() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

void logbook::record(std::vector<state::log_entry> entries) {
    if (entries.empty()) return;
    {
        std::lock_guard lock(mutex_);
        for (auto& e : entries) {
            if (queue_.size() >= options_.max_queued) {
                count_drop(e.at);
                continue;
            }
            queue_.push_back(std::move(e));
        }
    }
    wake_.notify_all();
}

void logbook::keep_baseline(state::machine_baseline baseline) {
    {
        std::lock_guard lock(mutex_);
        const std::string controller = baseline.controller;
        baselines_.insert_or_assign(controller, std::move(baseline));
    }
    wake_.notify_all();
}

bool logbook::flush(std::chrono::milliseconds limit) {
    std::unique_lock lock(mutex_);
    return written_.wait_for(
        lock, limit, [&] { return queue_.empty() && baselines_.empty() && in_flight_ == 0; });
}

std::size_t logbook::queued() const {
    std::lock_guard lock(mutex_);
    return queue_.size();
}

std::uint64_t logbook::dropped() const {
    std::lock_guard lock(mutex_);
    return dropped_;
}

void logbook::count_drop(state::instant at) {
    if (unreported_drops_ == 0) {
        first_drop_ = last_drop_ = at;
    } else {
        first_drop_ = std::min(first_drop_, at);
        last_drop_ = std::max(last_drop_, at);
    }
    ++dropped_;
    ++unreported_drops_;
}

void logbook::run() {
    std::unique_lock lock(mutex_);
    for (;;) {
        const auto now = clock::now();
        const bool pending = !queue_.empty() || !baselines_.empty() || unreported_drops_ > 0;
        if (pending && now >= retry_at_) {
            if (!write_batch(lock)) retry_at_ = clock::now() + options_.retry_interval;
            continue;
        }
        if (stopping_) break;
        if (now >= prune_at_) {
            prune_step(lock);
            continue;
        }
        const auto until = pending ? std::min(retry_at_, prune_at_) : prune_at_;
        wake_.wait_until(lock, until);
    }
}

bool logbook::write_batch(std::unique_lock<std::mutex>& lock) {
    const std::size_t count = std::min(queue_.size(), options_.batch);
    std::vector<state::log_entry> batch(std::make_move_iterator(queue_.begin()),
                                        std::make_move_iterator(queue_.begin() + count));
    queue_.erase(queue_.begin(), queue_.begin() + count);
    std::vector<state::machine_baseline> baselines;
    for (auto& [controller, b] : baselines_)
        baselines.push_back(std::move(b));
    baselines_.clear();
    const std::uint64_t drops = unreported_drops_;
    if (drops > 0) {
        state::log_entry lost;
        lost.at = last_drop_;
        lost.since = first_drop_;
        lost.section = std::string(state::logbook_section);
        lost.key = "entries lost";
        lost.new_value = std::to_string(drops);
        lost.reason = "the database could not be written and the queue of entries was full";
        batch.push_back(std::move(lost));
    }
    in_flight_ = batch.size() + baselines.size();
    lock.unlock();
    const bool entries_written = store_.append_log(batch).ok();
    const bool baselines_written = entries_written && store_.save_baselines(baselines).ok();
    lock.lock();
    in_flight_ = 0;
    if (!entries_written) {
        if (drops > 0) batch.pop_back();  // said again, with the later count, next time
        // Back to the front, in order; what no longer fits is dropped and counted.
        for (auto e = batch.rbegin(); e != batch.rend(); ++e) {
            if (queue_.size() >= options_.max_queued) {
                count_drop(e->at);
                continue;
            }
            queue_.push_front(std::move(*e));
        }
    } else {
        unreported_drops_ -= drops;
    }
    if (!baselines_written) {
        // A newer one queued meanwhile wins.
        for (auto& b : baselines) {
            const std::string controller = b.controller;
            baselines_.try_emplace(controller, std::move(b));
        }
    }
    written_.notify_all();
    return entries_written && baselines_written;
}

void logbook::prune_step(std::unique_lock<std::mutex>& lock) {
    const int days = std::clamp(options_.retention_days, 1, max_logbook_days);
    const state::instant before = options_.clock() - std::chrono::days(days);
    lock.unlock();
    const auto removed = store_.prune_log(before, options_.prune_step);
    lock.lock();
    const auto now = clock::now();
    if (!removed) {
        prune_at_ = now + options_.retry_interval;
    } else if (removed.value() == options_.prune_step) {
        prune_at_ = now + options_.prune_pause;  // more to remove: the next step soon
    } else {
        prune_at_ = now + options_.prune_interval;
    }
}

}  // namespace gateway::mill
