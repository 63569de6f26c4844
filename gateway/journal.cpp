#include "gateway/journal.h"

#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

namespace gateway {

namespace {

constexpr std::size_t buffer_bytes = 64 * 1024;

class journal {
  public:
    void add(std::string line) {
        line += '\n';
        {
            std::lock_guard lock(mutex_);
            start();
            if (waiting_bytes_ + line.size() > buffer_bytes || !writer_started_) {
                ++dropped_;
                return;
            }
            waiting_bytes_ += line.size();
            lines_.push_back(std::move(line));
        }
        wake_.notify_all();
    }

    bool flush(std::chrono::milliseconds limit) {
        std::unique_lock lock(mutex_);
        return written_.wait_for(lock, limit, [this] { return lines_.empty() && !writing_; });
    }

  private:
    // The writer starts with the first line; when no thread can be made, lines are dropped.
    void start() {
        if (writer_started_ || writer_failed_) return;
        try {
            std::thread([this] { write_lines(); }).detach();
            writer_started_ = true;
        } catch (const std::system_error&) {
            writer_failed_ = true;
        }
    }

    void write_lines() {
        std::unique_lock lock(mutex_);
        for (;;) {
            wake_.wait(lock, [this] { return !lines_.empty(); });
            std::string text = std::move(lines_.front());
            lines_.pop_front();
            waiting_bytes_ -= text.size();
            if (dropped_ > 0 && waiting_bytes_ + 64 < buffer_bytes) {
                // There is room again: say what was lost, before what follows.
                text = std::to_string(dropped_) + " journal lines dropped\n" + text;
                dropped_ = 0;
            }
            writing_ = true;
            lock.unlock();
            write_all(text);
            lock.lock();
            writing_ = false;
            if (lines_.empty()) written_.notify_all();
        }
    }

    // A closed or broken output loses the line and ends nothing.
    static void write_all(std::string_view text) {
        while (!text.empty()) {
            const ssize_t n = ::write(STDOUT_FILENO, text.data(), text.size());
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return;
            text.remove_prefix(static_cast<std::size_t>(n));
        }
    }

    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable written_;
    std::deque<std::string> lines_;
    std::size_t waiting_bytes_ = 0;
    unsigned long dropped_ = 0;
    bool writing_ = false;
    bool writer_started_ = false;
    bool writer_failed_ = false;
};

// Made once and never destroyed: its writer may still be waiting for the reader when the
// program exits.
journal& the_journal() {
    static journal* const made = new journal;
    return *made;
}

}  // namespace

void journal_line(std::string line) {
    the_journal().add(std::move(line));
}

bool journal_flush(std::chrono::milliseconds limit) {
    return the_journal().flush(limit);
}

}  // namespace gateway
