#include "gateway/fleet.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdint>

namespace gateway {

namespace {

// The two ends of the stop switch: a pipe that becomes readable when one byte is written.
std::pair<ifc_client::unique_fd, ifc_client::unique_fd> stop_switch() {
    int ends[2] = {-1, -1};
    if (::pipe2(ends, O_CLOEXEC) != 0) return {};
    return {ifc_client::unique_fd(ends[0]), ifc_client::unique_fd(ends[1])};
}

}  // namespace

fleet::fleet(const std::vector<controller_address>& controllers, poll_settings settings)
    : settings_(settings) {
    auto [read_end, write_end] = stop_switch();
    cancel_read_ = std::move(read_end);
    cancel_write_ = std::move(write_end);
    settings_.cancel_fd = cancel_read_ ? cancel_read_.get() : -1;
    for (const auto& address : controllers) {
        pollers_.push_back(std::make_unique<controller_poller>(address, settings_));
        pollers_.back()->on_queued([this] {
            {
                std::lock_guard lock(mutex_);
                queued_ = true;
            }
            wake_.notify_all();
        });
    }
}

fleet::~fleet() {
    stop();
}

// The first polls are spread over one interval: each poll is then one interval after the last
// of the same controller, so the polls of a mill stay spread out rather than all starting at
// the same moment, every interval.
void fleet::start() {
    const auto count = static_cast<std::int64_t>(pollers_.size());
    for (std::int64_t i = 0; i < count; ++i) {
        pollers_[static_cast<std::size_t>(i)]->start(settings_.interval * i / count);
    }
    watch_ = std::thread([this] { watch_write_deadlines(); });
}

void fleet::stop() {
    // A second caller waits until the first is done.
    std::call_once(stopped_, [this] {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        // First no poller starts anything new, then what is under way is cut short.
        for (auto& poller : pollers_)
            poller->request_stop();
        if (cancel_write_) {
            const char stop = 1;
            [[maybe_unused]] const auto written = ::write(cancel_write_.get(), &stop, 1);
        }
        wake_.notify_all();
        if (watch_.joinable()) watch_.join();
        for (auto& poller : pollers_)
            poller->stop();
    });
}

// Waiting writes that can no longer be sent in time are answered at once, even while their
// poller is busy with a slow controller.
void fleet::watch_write_deadlines() {
    std::unique_lock lock(mutex_);
    while (!stopping_) {
        queued_ = false;
        lock.unlock();
        std::optional<steady_clock::time_point> next;
        const auto now = steady_clock::now();
        for (auto& poller : pollers_) {
            const auto due = poller->expire_writes(now);
            if (due && (!next || *due < *next)) next = due;
        }
        lock.lock();
        const auto woken = [this] { return stopping_ || queued_; };
        if (next) {
            wake_.wait_until(lock, *next, woken);
        } else {
            wake_.wait(lock, woken);
        }
    }
}

controller_poller* fleet::find(std::string_view name) const {
    for (const auto& poller : pollers_) {
        if (poller->address().name == name) return poller.get();
    }
    return nullptr;
}

}  // namespace gateway
