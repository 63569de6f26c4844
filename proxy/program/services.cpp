#include "proxy/program/services.h"

#include <unistd.h>

#include <chrono>
#include <cstdint>

std::shared_ptr<proxy::rule_engine> rules_holder::current() const {
    const std::lock_guard lock(mutex_);
    return engine_;
}

void rules_holder::replace(std::shared_ptr<proxy::rule_engine> engine) {
    const std::lock_guard lock(mutex_);
    engine_ = std::move(engine);
}

void refusal::refuse_for(double seconds) {
    const auto end =
        proxy::clock_type::now() + std::chrono::duration_cast<proxy::clock_type::duration>(
                                       std::chrono::duration<double>(seconds));
    std::unique_lock lock(mutex_);
    if (!until_ || *until_ < end) until_ = end;
    const std::uint64_t one = 1;
    // The listener wakes up and stops listening; its eventfd cannot be full.
    [[maybe_unused]] const ssize_t n = ::write(wake_fd_, &one, sizeof one);
    // Bounded: a listener that cannot answer must not hold the connection for ever.
    changed_.wait_for(lock, std::chrono::seconds(1), [&] { return refusing_ || stopping_; });
}

void refusal::refused() {
    const std::lock_guard lock(mutex_);
    refusing_ = true;
    changed_.notify_all();
}

std::optional<proxy::time_point> refusal::until() const {
    const std::lock_guard lock(mutex_);
    return until_;
}

void refusal::stop() {
    const std::lock_guard lock(mutex_);
    stopping_ = true;
    changed_.notify_all();
}

void refusal::clear() {
    const std::lock_guard lock(mutex_);
    until_.reset();
    refusing_ = false;
}
