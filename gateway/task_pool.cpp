#include "gateway/task_pool.h"

#include <system_error>

namespace gateway {

task_pool::task_pool(int threads) {
    for (int i = 0; i < threads; ++i) {
        try {
            threads_.emplace_back([this] { serve(); });
        } catch (const std::system_error&) {
            break;  // fewer threads than asked for: fewer tasks at once
        }
    }
}

task_pool::~task_pool() {
    stop();
}

bool task_pool::try_run(std::function<void()> task) {
    {
        std::lock_guard lock(mutex_);
        if (stopping_ || idle_ <= static_cast<int>(waiting_.size())) return false;
        waiting_.push_back(std::move(task));
    }
    wake_.notify_one();
    return true;
}

void task_pool::stop() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    for (auto& thread : threads_) {
        if (thread.joinable()) thread.join();
    }
}

void task_pool::serve() {
    std::unique_lock lock(mutex_);
    for (;;) {
        ++idle_;
        wake_.wait(lock, [this] { return stopping_ || !waiting_.empty(); });
        --idle_;
        if (waiting_.empty()) return;  // stopping, nothing left to do
        std::function<void()> task = std::move(waiting_.back());
        waiting_.pop_back();
        lock.unlock();
        try {
            task();
        } catch (...) {
            // A task answers for itself; one that fails must not end the program.
        }
        lock.lock();
    }
}

}  // namespace gateway
