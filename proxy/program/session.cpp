#include "proxy/program/session.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <exception>

#include "protocol/protocol.h"
#include "proxy/program/net.h"

namespace {

using proxy::clock_type;
using proxy::side;
using proxy::time_point;

// A direction stops reading once this much of its source waits to be passed on.
constexpr std::size_t read_ahead = 512 * 1024;
constexpr std::size_t read_size = 64 * 1024;
// After the controller's end of stream, how long the terminal may send nothing before the
// proxy ends the connection: as long as the controller waits for a silent terminal. (A
// terminal that never closes after the controller did must not hold its place for ever.)
constexpr auto half_closed_wait = std::chrono::seconds(protocol::wait_seconds);

clock_type::duration seconds_of(double seconds) {
    return std::chrono::duration_cast<clock_type::duration>(std::chrono::duration<double>(seconds));
}

}  // namespace

session::session(const session_services& services, int terminal_fd, std::string terminal,
                 long long conn)
    : services_(services),
      terminal_fd_(terminal_fd),
      journal_(services.journal),
      label_{conn, std::move(terminal)},
      opened_(clock_type::now()),
      tracker_(services.settings.text_max, opened_),
      classifier_(services_, label_, tracker_, up_, down_, frozen_until_),
      read_buffer_(read_size) {
    up_.from = side::terminal;
    down_.from = side::controller;
}

session::~session() {
    close_fds();
}

void session::close_fds() {
    if (terminal_fd_ >= 0) ::close(terminal_fd_);
    if (controller_fd_ >= 0) ::close(controller_fd_);
    terminal_fd_ = -1;
    controller_fd_ = -1;
}

int session::release_terminal() {
    const int fd = terminal_fd_;
    terminal_fd_ = -1;
    return fd;
}

// ---------------------------------------------------------------------------------------
// The loop

void session::run_guarded() noexcept {
    try {
        run();
    } catch (const std::exception& e) {
        abandon(e.what());
    } catch (...) {
        abandon("an unknown failure");
    }
}

void session::abandon(const std::string& why) noexcept {
    // The relay's state is unknown: both ends learn at once.
    for (int* fd : {&terminal_fd_, &controller_fd_}) {
        if (*fd >= 0) proxy_net::close_with_reset(*fd);
        *fd = -1;
    }
    try {
        services_.diag.say("connection " + std::to_string(label_.conn) + ": " + why +
                           "; both of its connections were reset");
        if (!close_written_) {
            close_written_ = true;
            if (journal_.enabled()) {
                proxy::close_facts facts;
                facts.end = proxy::connection_end{"proxy", "the proxy failed: " + why};
                facts.requests = requests_written_;
                facts.bytes_from_terminal = up_.bytes_read;
                facts.bytes_from_controller = down_.bytes_read;
                facts.duration_ms = proxy::millis(clock_type::now() - opened_);
                journal_.write(proxy::close_line(label_, facts));
            }
        }
    } catch (...) {
        // Nothing more can be said.
    }
}

void session::run() {
    if (journal_.enabled()) journal_.write(proxy::open_line(label_));
    proxy_net::no_delay(terminal_fd_);
    std::string error;
    controller_fd_ = proxy_net::connect_to(services_.settings.controller, error);
    if (controller_fd_ < 0) unreachable(error);
    while (!done()) {
        const time_point now = clock_type::now();
        short terminal_events = 0;
        short controller_events = 0;
        if (!up_.source_ended && up_.waiting() < read_ahead) terminal_events |= POLLIN;
        if (may_write(down_, now)) terminal_events |= POLLOUT;
        if (!connected_) {
            controller_events = POLLOUT;
        } else {
            if (!down_.source_ended && down_.waiting() < read_ahead) controller_events |= POLLIN;
            if (may_write(up_, now)) controller_events |= POLLOUT;
        }
        // A side that has ended its stream is watched for a reset only (POLLERR and POLLHUP
        // need no event). Any other descriptor nobody waits on stays out: its hang-up would
        // wake the loop for ever.
        const bool watch_terminal = terminal_events == 0 && up_.source_ended;
        const bool watch_controller = controller_events == 0 && connected_ && down_.source_ended;
        pollfd fds[3] = {
            {terminal_events != 0 || watch_terminal ? terminal_fd_ : -1, terminal_events, 0},
            {controller_events != 0 || watch_controller ? controller_fd_ : -1, controller_events,
             0},
            {services_.stop_fd, POLLIN, 0},
        };
        if (::poll(fds, 3, poll_timeout(now)) < 0 && errno != EINTR) {
            stop(std::string("poll: ") + std::strerror(errno), clock_type::now());
            break;
        }
        const time_point woke = clock_type::now();
        if (fds[2].revents != 0) {
            stop("the proxy stopped", woke);
            break;
        }
        if (half_closed_until_ && woke >= *half_closed_until_) {
            // The terminal has sent nothing since the controller's end for as long as the
            // controller waits: the proxy ends the connection as the controller would.
            over_ = true;
            break;
        }
        if (!connected_ && fds[1].revents != 0) {
            if (const int failure = proxy_net::connect_result(controller_fd_); failure != 0) {
                unreachable(std::strerror(failure));
                break;
            }
            connected_ = true;
            proxy_net::no_delay(controller_fd_);
        } else if ((controller_events & POLLIN) != 0 && fds[1].revents != 0) {
            read_side(down_, controller_fd_);
        } else if (watch_controller && (fds[1].revents & (POLLERR | POLLHUP)) != 0) {
            peer_reset(side::controller, woke);
        }
        if ((terminal_events & POLLIN) != 0 && fds[0].revents != 0) {
            read_side(up_, terminal_fd_);
        } else if (watch_terminal && (fds[0].revents & (POLLERR | POLLHUP)) != 0) {
            peer_reset(side::terminal, woke);
        }
        pump(woke);
    }
    write_close_line(clock_type::now());
    close_fds();
}

bool session::done() const {
    // Both ends of stream have been passed on (each side may go on sending after the other's
    // half-close), or a reset has: then neither side is served any more.
    return over_ || (up_.finished && down_.finished);
}

void session::unreachable(const std::string& error) {
    own_end_ = proxy::connection_end{
        "proxy", "cannot reach the controller at " + services_.settings.to.text() + ": " + error};
    write_close_line(clock_type::now());
    // The terminal learns at once, as from a refused connection.
    proxy_net::close_with_reset(terminal_fd_);
    terminal_fd_ = -1;
    over_ = true;
}

void session::read_side(relay_direction& d, int fd) {
    ssize_t k;
    do
        k = ::recv(fd, read_buffer_.data(), read_buffer_.size(), 0);
    while (k < 0 && errno == EINTR);
    if (k > 0) {
        d.inbox.append(read_buffer_.data(), static_cast<std::size_t>(k));
        d.bytes_read += static_cast<std::uint64_t>(k);
        if (half_closed_until_) half_closed_until_ = clock_type::now() + half_closed_wait;
        return;
    }
    if (k < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
    // End of stream, or a reset (any other failure counts as one).
    d.source_ended = true;
    d.reset = k < 0;
}

void session::pump(time_point now) {
    bool moved = true;
    while (moved && !done()) {
        // The controller's bytes first: they let held terminal bytes go on.
        moved = classify(down_, now);
        moved = classify(up_, now) || moved;
        moved = release(up_, now) || moved;
        moved = release(down_, now) || moved;
        if (done()) break;
        moved = flush(up_, now) || moved;
        moved = flush(down_, now) || moved;
    }
}

bool session::classify(relay_direction& d, time_point now) {
    return connected_ && !over_ && classifier_.classify(d, now);
}

// ---------------------------------------------------------------------------------------
// Releasing and writing

bool session::release(relay_direction& d, time_point now) {
    bool moved = false;
    while (!d.queue.empty() && !over_ && !frozen(now) && now >= d.hold_until) {
        const item_type type = d.queue.front().type;
        // A stall, a cut, a new rate and an end act once what came before them has gone out.
        const bool waits_for_outbox = type == item_type::freeze || type == item_type::cut ||
                                      type == item_type::rate || type == item_type::end;
        if (waits_for_outbox && d.outbox_busy()) break;
        relay_item it = d.pop_front();
        moved = true;
        switch (type) {
            case item_type::bytes:
                if (it.answer_start) d.note_answer_start(it.seq, now);
                if (!d.broken) d.append_out(it.bytes);
                break;
            case item_type::hold:
                d.hold_until = now + seconds_of(it.seconds);
                break;
            case item_type::freeze:
                frozen_until_ = std::max(frozen_until_, now + seconds_of(it.seconds));
                break;
            case item_type::cut:
                cut(it.reset, it.detail, now);
                return true;
            case item_type::rate:
                // The new rate is for the bytes after it.
                d.rate = it.rate;
                d.rate_since = now;
                d.rate_sent = 0;
                break;
            case item_type::finish:
                // The request is over for the terminal once its last bytes have gone out; the
                // bytes after it need not wait for that.
                d.hold_finish(std::move(it));
                break;
            case item_type::end:
                pass_end(d, now);
                return true;
        }
    }
    write_due_records(d, now);
    return moved;
}

void session::write_due_records(relay_direction& d, time_point now) {
    for (relay_item& finish : d.take_due())
        write_record(std::move(finish), now);
}

bool session::may_write(const relay_direction& d, time_point now) const {
    return connected_ && !frozen(now) && d.can_write(now);
}

bool session::flush(relay_direction& d, time_point now) {
    const int fd = d.from == side::terminal ? controller_fd_ : terminal_fd_;
    if (fd < 0 || !may_write(d, now)) return false;
    const bool moved = d.flush(fd, now);
    write_due_records(d, now);
    // A destination that refuses bytes is gone: its reset reaches the other side.
    if (d.broken) peer_reset(d.from == side::terminal ? side::controller : side::terminal, now);
    return moved;
}

void session::peer_reset(side who, time_point now) {
    relay_direction& from = who == side::terminal ? up_ : down_;
    if (!from.source_ended) {
        // Passed on like any end of the side's stream, after what it sent before.
        from.source_ended = true;
        from.reset = true;
        return;
    }
    // The side had ended its stream and now is gone: the other side gets the reset too.
    int& other = who == side::terminal ? controller_fd_ : terminal_fd_;
    if (other >= 0) {
        proxy_net::close_with_reset(other);
        other = -1;
    }
    if (who == side::terminal && !down_.end_queued) {
        tracker_.end(side::controller, false, now);
        for (proxy::request_record& record : tracker_.take_finished())
            write_record(classifier_.finish_item(std::move(record)), now);
    }
    up_.finished = true;
    down_.finished = true;
}

void session::pass_end(relay_direction& d, time_point now) {
    d.finished = true;
    const bool from_terminal = d.from == side::terminal;
    int& destination = from_terminal ? controller_fd_ : terminal_fd_;
    if (!d.reset) {
        if (destination >= 0) ::shutdown(destination, SHUT_WR);
        // A terminal that never ends its side after the controller did is not waited for
        // without end.
        if (!from_terminal) half_closed_until_ = now + half_closed_wait;
        return;
    }
    if (destination >= 0) proxy_net::close_with_reset(destination);
    destination = -1;
    if (from_terminal && !down_.end_queued) {
        // The controller's end will never be read: the requests at hand end here.
        tracker_.end(side::controller, false, now);
        for (proxy::request_record& record : tracker_.take_finished())
            write_record(classifier_.finish_item(std::move(record)), now);
    }
    // Nothing more goes either way.
    up_.finished = true;
    down_.finished = true;
}

void session::cut(bool reset, const std::string& detail, time_point now) {
    // A request whose end had not reached the terminal is cut too.
    write_queued_records(now, detail);
    tracker_.cut(now, detail);
    for (proxy::request_record& record : tracker_.take_finished())
        write_record(classifier_.finish_item(std::move(record)), now);
    own_end_ = proxy::connection_end{"proxy", detail};
    // The journal has the connection's close before the terminal can see it and come back.
    write_close_line(now);
    for (int* fd : {&terminal_fd_, &controller_fd_}) {
        if (*fd < 0) continue;
        if (reset) {
            proxy_net::close_with_reset(*fd);
        } else {
            ::close(*fd);
        }
        *fd = -1;
    }
    over_ = true;
}

void session::write_close_line(time_point now) {
    if (close_written_) return;
    close_written_ = true;
    write_queued_records(now);
    if (!journal_.enabled()) return;
    proxy::close_facts facts;
    facts.end = own_end_ ? *own_end_ : tracker_.ending();
    facts.requests = requests_written_;
    facts.bytes_from_terminal = up_.bytes_read;
    facts.bytes_from_controller = down_.bytes_read;
    facts.duration_ms = proxy::millis(now - opened_);
    journal_.write(proxy::close_line(label_, facts));
}

void session::stop(const std::string& reason, time_point now) {
    cut(false, reason, now);
}

// ---------------------------------------------------------------------------------------
// Journal lines

void session::write_record(relay_item finish, time_point released) {
    proxy::request_record& record = finish.record;
    record.ended = released;
    // The times the terminal saw: when the first answer byte and the last byte went to it.
    if (down_.first_byte_seq == record.seq && down_.first_byte_seq != 0) {
        record.first_answer_byte = down_.first_byte_at;
    }
    ++requests_written_;
    if (journal_.enabled()) journal_.write(proxy::request_line(label_, record, finish.faults));
}

void session::write_queued_records(time_point now, const std::string& cut_detail) {
    std::vector<relay_item> finished;
    for (relay_direction* d : {&up_, &down_}) {
        for (finishing_record& f : d->finishing)
            finished.push_back(std::move(f.finish));
        d->finishing.clear();
        for (relay_item& it : d->queue) {
            if (it.type == item_type::finish) finished.push_back(std::move(it));
        }
        d->queue.erase(
            std::remove_if(d->queue.begin(), d->queue.end(),
                           [](const relay_item& it) { return it.type == item_type::finish; }),
            d->queue.end());
    }
    std::sort(finished.begin(), finished.end(),
              [](const relay_item& a, const relay_item& b) { return a.record.seq < b.record.seq; });
    for (relay_item& it : finished) {
        if (!cut_detail.empty()) {
            it.record.result = proxy::outcome::cut;
            it.record.detail = cut_detail;
        }
        write_record(std::move(it), now);
    }
}

bool session::releasable(const relay_direction& d, time_point now) const {
    if (d.queue.empty() || over_ || frozen(now) || now < d.hold_until) return false;
    const bool outbox_busy = d.outbox_busy();
    switch (d.queue.front().type) {
        case item_type::bytes:
        case item_type::hold:
        case item_type::finish:
            return true;
        default:
            // Markers wait until what came before them has gone out.
            return !outbox_busy;
    }
}

int session::poll_timeout(time_point now) const {
    // A hold or a stall that ran out since the last round: go on at once.
    if (releasable(up_, now) || releasable(down_, now)) return 0;
    std::optional<time_point> wake;
    const auto consider = [&](time_point t) {
        if (!wake || t < *wake) wake = t;
    };
    if (frozen(now)) consider(frozen_until_);
    for (const relay_direction* d : {&up_, &down_}) {
        if (!d->queue.empty() && now < d->hold_until) consider(d->hold_until);
        if (const auto wake_at = d->rate_wake(now)) consider(*wake_at);
    }
    if (const auto deadline = classifier_.header_deadline()) consider(*deadline);
    if (half_closed_until_) consider(*half_closed_until_);
    if (!wake) return -1;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(*wake - now).count();
    return static_cast<int>(std::clamp<long long>(left, 0, 1 << 30));
}
