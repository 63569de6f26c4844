// A few threads for work that must wait for a controller (a probe polls one on request). A task
// is taken only when a thread is free for it: nothing waits in a queue, so the work under way
// and the memory it holds are bounded by the number of threads.
#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace gateway {

class task_pool {
  public:
    explicit task_pool(int threads);
    ~task_pool();
    task_pool(const task_pool&) = delete;
    task_pool& operator=(const task_pool&) = delete;

    // Runs task on a free thread; false when every thread is busy (or the pool is stopping).
    bool try_run(std::function<void()> task);
    // Takes no more tasks and waits for those under way.
    void stop();

  private:
    void serve();

    std::mutex mutex_;
    std::condition_variable wake_;
    std::vector<std::function<void()>> waiting_;  // at most one per free thread
    int idle_ = 0;
    bool stopping_ = false;
    std::vector<std::thread> threads_;
};

}  // namespace gateway
