#include "proxy/program/line_output.h"

#include <limits.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <optional>

namespace {

using clock_type = std::chrono::steady_clock;
using namespace std::chrono_literals;

// A wait for the reader lasts at most this long, so that a stop is seen at once.
constexpr auto poll_slice = 100ms;
// The pause before a line that could not be written to a file is tried again.
constexpr auto retry_pause = 200ms;
// A write error starting again within this time of the last one said is not said again.
constexpr auto report_gap = 10s;
// At most this much goes to a terminal after poll() said it is writable.
constexpr std::size_t terminal_piece = 256;

enum class fd_kind : std::uint8_t { regular, socket, pipe, terminal, device };

fd_kind kind_of(int fd) {
    struct stat st {};
    if (::fstat(fd, &st) != 0) return fd_kind::device;
    if (S_ISREG(st.st_mode)) return fd_kind::regular;
    if (S_ISSOCK(st.st_mode)) return fd_kind::socket;
    if (S_ISFIFO(st.st_mode)) return fd_kind::pipe;
    if (S_ISCHR(st.st_mode) && ::isatty(fd)) return fd_kind::terminal;
    return fd_kind::device;
}

// Errors after which nothing written can reach a reader any more.
bool reader_gone(int error) {
    return error == EPIPE || error == ECONNRESET || error == EBADF || error == ENOTCONN;
}

// How an attempt at the line at the front of the queue ended.
enum class attempt : std::uint8_t {
    written,  // whole
    waiting,  // the reader takes nothing now; try again (a stop is seen in between)
    failed,   // a write error; the line is tried again after a pause
    broken,   // the reader is gone
};

}  // namespace

struct line_output::state {
    explicit state(settings from)
        : s(std::move(from)), kind(kind_of(s.fd)), ragged(s.ends_mid_line) {}
    ~state() {
        if (s.owned && s.fd >= 0) ::close(s.fd);
    }

    const settings s;
    const fd_kind kind;

    std::mutex mutex;
    std::condition_variable changed;
    std::deque<std::string> queue;  // whole lines with their line ends; the front one is written
    std::size_t queued_bytes = 0;
    std::uint64_t gap = 0;      // dropped since the last notice
    std::uint64_t dropped = 0;  // dropped in all
    bool stopping = false;
    clock_type::time_point deadline{};
    bool broken = false;
    bool done = false;

    // The writer's own.
    std::size_t sent = 0;  // bytes of the front line written to a stream
    bool ragged;           // the file ends in a line that could not be cut back
    int error = 0;         // of the last failed attempt
    bool failing = false;
    bool failure_said = false;
    std::optional<clock_type::time_point> last_said;

    // Says message() through report; a failure to say it (no memory) is not the writer's end.
    template <class Message>
    void say(Message message) const noexcept {
        try {
            if (s.report) s.report(s.name + ": " + message());
        } catch (...) {
        }
    }

    attempt write_to_file(const std::string& line);
    attempt write_to_stream(const std::string& line, clock_type::time_point wait_until);
};

attempt line_output::state::write_to_file(const std::string& line) {
    const auto write_whole = [&](std::string_view bytes) {
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::write(s.fd, bytes.data() + done, bytes.size() - done);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                error = n < 0 ? errno : ENOSPC;
                break;
            }
            done += static_cast<std::size_t>(n);
        }
        if (done == bytes.size()) return true;
        // Cut the file back to where the line began (appending: the offset is its end now).
        const off_t end = ::lseek(s.fd, 0, SEEK_CUR);
        if (done > 0 && (end < 0 || ::ftruncate(s.fd, end - static_cast<off_t>(done)) != 0)) {
            ragged = true;
        }
        return false;
    };
    if (ragged) {
        // A line end first, so that the next line starts whole after the cut one.
        if (!write_whole("\n")) return reader_gone(error) ? attempt::broken : attempt::failed;
        ragged = false;
    }
    if (write_whole(line)) return attempt::written;
    return reader_gone(error) ? attempt::broken : attempt::failed;
}

attempt line_output::state::write_to_stream(const std::string& line,
                                            clock_type::time_point wait_until) {
    while (sent < line.size()) {
        const char* bytes = line.data() + sent;
        const std::size_t left = line.size() - sent;
        ssize_t n = 0;
        if (kind == fd_kind::socket) {
            n = ::send(s.fd, bytes, left, MSG_DONTWAIT | MSG_NOSIGNAL);
        } else {
            pollfd pfd{s.fd, POLLOUT, 0};
            const int ready = ::poll(&pfd, 1, 0);
            if (ready < 0 && errno != EINTR) {
                error = errno;
                return attempt::failed;
            }
            if (ready > 0 && (pfd.revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) {
                error = EPIPE;
                return attempt::broken;
            }
            if (ready <= 0 || (pfd.revents & POLLOUT) == 0) {
                n = -1;
                errno = EAGAIN;
            } else {
                const std::size_t piece = kind == fd_kind::pipe       ? PIPE_BUF
                                          : kind == fd_kind::terminal ? terminal_piece
                                                                      : left;
                n = ::write(s.fd, bytes, std::min(left, piece));
            }
        }
        if (n > 0) {
            sent += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            const auto wait = std::clamp(
                std::chrono::ceil<std::chrono::milliseconds>(wait_until - clock_type::now()),
                std::chrono::milliseconds(0), std::chrono::milliseconds(poll_slice));
            pollfd pfd{s.fd, POLLOUT, 0};
            ::poll(&pfd, 1, static_cast<int>(wait.count()));
            return attempt::waiting;
        }
        error = n < 0 ? errno : EIO;
        return reader_gone(error) ? attempt::broken : attempt::failed;
    }
    sent = 0;
    return attempt::written;
}

line_output::line_output(settings s) : state_(std::make_shared<state>(std::move(s))) {
    writer_ = std::thread([keep = state_] { write_all(keep); });
}

line_output::~line_output() {
    if (!finished_) finish(clock_type::now() + 200ms);
}

bool line_output::put(std::string line) {
    state& st = *state_;
    line += '\n';
    const std::lock_guard lock(st.mutex);
    const auto fits = [&](std::size_t n) {
        // A line longer than the whole buffer still goes in alone.
        return st.queue.empty() || st.queued_bytes + n <= st.s.capacity;
    };
    const auto drop = [&] {
        ++st.gap;
        ++st.dropped;
        return false;
    };
    if (st.stopping || st.broken) return drop();
    if (st.gap > 0) {
        std::string notice = st.s.dropped_notice(st.gap) + '\n';
        if (!fits(notice.size() + line.size())) return drop();
        st.queued_bytes += notice.size();
        st.queue.push_back(std::move(notice));
        st.gap = 0;
    } else if (!fits(line.size())) {
        return drop();
    }
    st.queued_bytes += line.size();
    st.queue.push_back(std::move(line));
    st.changed.notify_one();
    return true;
}

void line_output::write_all(const std::shared_ptr<state>& keep) {
    state& st = *keep;
    std::unique_lock lock(st.mutex);
    for (;;) {
        st.changed.wait(lock, [&] { return !st.queue.empty() || st.stopping; });
        if (st.queue.empty() || st.broken) break;
        const auto wait_until =
            st.stopping ? st.deadline : clock_type::now() + std::chrono::hours(1);
        if (st.stopping && clock_type::now() >= st.deadline) break;
        // The front line stays in the buffer (and counts in it) while it is written; a deque
        // keeps it in place while put() adds behind it.
        const std::string& line = st.queue.front();
        lock.unlock();
        const attempt result = st.kind == fd_kind::regular ? st.write_to_file(line)
                                                           : st.write_to_stream(line, wait_until);
        if (result == attempt::written && st.failing) {
            st.failing = false;
            if (st.failure_said) st.say([] { return std::string("written again"); });
        } else if (result == attempt::failed && !st.failing) {
            st.failing = true;
            const auto now = clock_type::now();
            st.failure_said = !st.last_said || now - *st.last_said >= report_gap;
            if (st.failure_said) {
                st.last_said = now;
                st.say([&] {
                    return std::string("cannot write: ") + std::strerror(st.error) +
                           "; its lines wait in the proxy, and are dropped and counted while the "
                           "buffer is full";
                });
            }
        } else if (result == attempt::broken) {
            st.say([&] {
                return std::string("cannot write: ") + std::strerror(st.error) +
                       "; its reader is gone, and no more lines are written";
            });
        }
        lock.lock();
        switch (result) {
            case attempt::written:
                st.queued_bytes -= st.queue.front().size();
                st.queue.pop_front();
                break;
            case attempt::waiting:
                break;
            case attempt::failed:
                st.changed.wait_for(lock, retry_pause);
                break;
            case attempt::broken:
                st.broken = true;
                break;
        }
    }
    // What was never written is counted with the dropped lines.
    st.dropped += st.queue.size();
    st.queue.clear();
    st.queued_bytes = 0;
    st.done = true;
    st.changed.notify_all();
}

std::uint64_t line_output::finish(std::chrono::steady_clock::time_point deadline) {
    state& st = *state_;
    std::unique_lock lock(st.mutex);
    if (!finished_) {
        finished_ = true;
        st.stopping = true;
        st.deadline = deadline;
        st.changed.notify_all();
        // A writer waiting for its reader looks at the clock at least every poll_slice; one
        // stuck in a write to a file that hangs is left behind (it keeps the state alive).
        const bool done =
            st.changed.wait_until(lock, deadline + poll_slice, [&] { return st.done; });
        lock.unlock();
        if (done) {
            writer_.join();
        } else {
            writer_.detach();
        }
        lock.lock();
    }
    return st.dropped + st.queue.size();
}
