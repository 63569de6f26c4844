#include "proxy/program/session.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>

#include "protocol/protocol.h"
#include "proxy/program/net.h"

namespace {

using namespace std::chrono_literals;
using proxy::clock_type;
using proxy::piece;
using proxy::side;
using proxy::time_point;

// A direction stops reading once this much of its source waits to be passed on.
constexpr std::size_t read_ahead = 512 * 1024;
constexpr std::size_t read_size = 64 * 1024;
// How long the first bytes of what may become a PUT header wait for the rest of it, when a
// rule may answer the PUT with ERR! (which needs the header whole and unrelayed).
constexpr auto header_grace = 500ms;

clock_type::duration seconds_of(double seconds) {
    return std::chrono::duration_cast<clock_type::duration>(std::chrono::duration<double>(seconds));
}

// The bytes so far could be the start of a PUT header.
bool put_prefix(std::string_view bytes) {
    const std::string_view token = protocol::put_token;
    const std::size_t n = std::min(bytes.size(), token.size());
    return bytes.substr(0, n) == token.substr(0, n);
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

// ---------------------------------------------------------------------------------------
// The loop

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
        if (!up_.source_ended && waiting(up_) < read_ahead) terminal_events |= POLLIN;
        if (may_write(down_, now)) terminal_events |= POLLOUT;
        if (!connected_) {
            controller_events = POLLOUT;
        } else {
            if (!down_.source_ended && waiting(down_) < read_ahead) controller_events |= POLLIN;
            if (may_write(up_, now)) controller_events |= POLLOUT;
        }
        // A descriptor nobody waits on stays out: its hang-up would wake the loop for ever.
        pollfd fds[3] = {
            {terminal_events != 0 ? terminal_fd_ : -1, terminal_events, 0},
            {controller_events != 0 ? controller_fd_ : -1, controller_events, 0},
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
        if (!connected_ && fds[1].revents != 0) {
            if (const int failure = proxy_net::connect_result(controller_fd_); failure != 0) {
                unreachable(std::strerror(failure));
                break;
            }
            connected_ = true;
            proxy_net::no_delay(controller_fd_);
        } else if ((controller_events & POLLIN) != 0 && fds[1].revents != 0) {
            read_side(down_, controller_fd_);
        }
        if ((terminal_events & POLLIN) != 0 && fds[0].revents != 0) read_side(up_, terminal_fd_);
        pump(woke);
    }
    write_close_line(clock_type::now());
    close_fds();
}

bool session::done() const {
    // The controller's end of stream (or a reset) has reached the terminal: the controller
    // serves the connection no more, so neither does the proxy.
    return over_ || down_.finished;
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

void session::read_side(direction& d, int fd) {
    ssize_t k;
    do
        k = ::recv(fd, read_buffer_.data(), read_buffer_.size(), 0);
    while (k < 0 && errno == EINTR);
    if (k > 0) {
        d.inbox.append(read_buffer_.data(), static_cast<std::size_t>(k));
        d.bytes_read += static_cast<std::uint64_t>(k);
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

std::size_t session::waiting(const direction& d) const {
    return d.inbox.size() + d.queued_bytes + (d.outbox.size() - d.written);
}

// ---------------------------------------------------------------------------------------
// Classifying: the tracker says what the bytes are, the rules what happens to them

bool session::classify(direction& d, time_point now) {
    if (!connected_ || d.end_queued) return false;
    // Terminal bytes held until the controller answers can never go once it has ended. (The
    // controller's bytes never wait for the terminal.)
    if (d.from == side::terminal && down_.end_queued) d.inbox.clear();
    bool moved = false;
    while (!d.inbox.empty()) {
        if (d.from == side::terminal && hold_header(now)) break;
        fragments_.clear();
        const proxy::feed_result r = tracker_.feed(d.from, d.inbox, now, fragments_);
        std::vector<proxy::request_record> done = tracker_.take_finished();
        // A header that begins in this feed has had none of its bytes relayed yet.
        if (std::any_of(fragments_.begin(), fragments_.end(), [](const proxy::fragment& f) {
                return f.what == piece::header && f.starts;
            })) {
            header_bytes_queued_ = 0;
        }
        bool drop_header = false;
        if (r.why == proxy::stop::decision) {
            for (item& it : decide(now, drop_header))
                enqueue(up_, std::move(it), now);
        }
        std::size_t at = 0;
        for (const proxy::fragment& f : fragments_) {
            enqueue_fragment(d, f, std::string_view(d.inbox).substr(at, f.size), drop_header, done,
                             now);
            at += f.size;
        }
        enqueue_finished(d, done, now);
        d.inbox.erase(0, r.consumed);
        moved = moved || r.consumed > 0;
        if (r.why == proxy::stop::held || over_) break;
    }
    if (d.source_ended && d.inbox.empty() && !over_) {
        // Everything the side sent is classified: its end of stream follows. A controller
        // that ends while a fault holds terminal bytes back may have waited for them.
        tracker_.end(
            d.from, d.reset, now,
            d.from == side::controller ? up_.queued_bytes + (up_.outbox.size() - up_.written) : 0);
        std::vector<proxy::request_record> done = tracker_.take_finished();
        enqueue_finished(d, done, now);
        item end;
        end.type = item_type::end;
        end.reset = d.reset;
        enqueue(d, std::move(end), now);
        d.end_queued = true;
        moved = true;
    }
    return moved;
}

bool session::hold_header(time_point now) {
    const bool may_be_put = tracker_.awaiting_header() && !up_.source_ended &&
                            up_.inbox.size() < static_cast<std::size_t>(protocol::header_len) &&
                            put_prefix(up_.inbox);
    if (!may_be_put || !services_.rules.current()->answers_err()) {
        header_hold_since_.reset();
        return false;
    }
    if (!header_hold_since_) header_hold_since_ = now;
    // A header that trickles in is relayed as it comes after a while, as the controller
    // would see it; a rule that answers ERR! then cannot act on it.
    return now - *header_hold_since_ < header_grace;
}

void session::enqueue(direction& d, item it, time_point now) {
    if (it.type == item_type::bytes) {
        if (d.broken) return;
        // Nothing waits before these bytes: they go on at once.
        if (d.queue.empty() && !frozen(now) && now >= d.hold_until) {
            if (it.answer_start) {
                first_byte_seq_ = it.seq;
                first_byte_at_ = now;
            }
            d.outbox.append(it.bytes);
            return;
        }
        d.queued_bytes += it.bytes.size();
    }
    d.queue.push_back(std::move(it));
}

// ---------------------------------------------------------------------------------------
// Releasing and writing

bool session::release(direction& d, time_point now) {
    bool moved = false;
    while (!d.queue.empty() && !over_ && !frozen(now) && now >= d.hold_until) {
        item& it = d.queue.front();
        const bool outbox_busy = !d.broken && d.written < d.outbox.size();
        switch (it.type) {
            case item_type::bytes:
                d.queued_bytes -= it.bytes.size();
                if (it.answer_start) {
                    first_byte_seq_ = it.seq;
                    first_byte_at_ = now;
                }
                if (!d.broken) d.outbox.append(it.bytes);
                break;
            case item_type::hold:
                d.hold_until = now + seconds_of(it.seconds);
                break;
            case item_type::freeze:
                // The stall starts once what came before it has gone out.
                if (outbox_busy) return moved;
                frozen_until_ = std::max(frozen_until_, now + seconds_of(it.seconds));
                break;
            case item_type::cut: {
                if (outbox_busy) return moved;
                const bool reset = it.reset;
                const std::string detail = it.detail;
                d.queue.pop_front();
                cut(reset, detail, now);
                return true;
            }
            case item_type::rate:
                // The new rate is for the bytes after it.
                if (outbox_busy) return moved;
                d.rate = it.rate;
                d.rate_since = now;
                d.rate_sent = 0;
                break;
            case item_type::finish:
                // The request is over for the terminal once its last bytes have gone out.
                if (outbox_busy) return moved;
                write_record(std::move(it), now);
                break;
            case item_type::end:
                if (outbox_busy) return moved;
                d.queue.pop_front();
                pass_end(d, now);
                return true;
        }
        d.queue.pop_front();
        moved = true;
    }
    return moved;
}

std::size_t session::write_budget(const direction& d, time_point now) const {
    if (d.rate <= 0) return d.outbox.size() - d.written;
    const double elapsed = std::chrono::duration<double>(now - d.rate_since).count();
    // The first byte goes at once; then one byte per 1/rate seconds.
    const auto allowed = static_cast<std::uint64_t>(std::floor(d.rate * elapsed)) + 1;
    return allowed > d.rate_sent ? static_cast<std::size_t>(allowed - d.rate_sent) : 0;
}

bool session::may_write(const direction& d, time_point now) const {
    return connected_ && !d.broken && d.written < d.outbox.size() && !frozen(now) &&
           write_budget(d, now) > 0;
}

bool session::flush(direction& d, time_point now) {
    const int fd = d.from == side::terminal ? controller_fd_ : terminal_fd_;
    if (fd < 0 || !may_write(d, now)) return false;
    const std::size_t want = std::min(d.outbox.size() - d.written, write_budget(d, now));
    ssize_t k;
    do
        k = ::send(fd, d.outbox.data() + d.written, want, MSG_NOSIGNAL | MSG_DONTWAIT);
    while (k < 0 && errno == EINTR);
    if (k > 0) {
        d.written += static_cast<std::size_t>(k);
        d.rate_sent += static_cast<std::uint64_t>(k);
        if (d.written == d.outbox.size()) {
            d.outbox.clear();
            d.written = 0;
        }
        return true;
    }
    if (k < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return false;
    // The destination is gone (it closed or reset): what is left for it is dropped; its own
    // end of stream or reset arrives on the other direction.
    d.broken = true;
    d.outbox.clear();
    d.written = 0;
    return true;
}

void session::pass_end(direction& d, time_point now) {
    if (d.from == side::terminal) {
        if (d.reset) {
            // The terminal is gone at once: so is the controller's connection.
            proxy_net::close_with_reset(controller_fd_);
            controller_fd_ = -1;
            tracker_.end(side::controller, false, now);
            for (proxy::request_record& record : tracker_.take_finished())
                write_record(finish_item(std::move(record)), now);
            down_.finished = true;
        } else if (controller_fd_ >= 0) {
            ::shutdown(controller_fd_, SHUT_WR);
        }
    } else if (terminal_fd_ >= 0) {
        if (d.reset) {
            proxy_net::close_with_reset(terminal_fd_);
            terminal_fd_ = -1;
        } else {
            ::shutdown(terminal_fd_, SHUT_WR);
        }
    }
    d.finished = true;
}

void session::cut(bool reset, const std::string& detail, time_point now) {
    // A request whose end had not reached the terminal is cut too.
    write_queued_records(now, detail);
    tracker_.cut(now, detail);
    for (proxy::request_record& record : tracker_.take_finished())
        write_record(finish_item(std::move(record)), now);
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

void session::write_record(item finish, time_point released) {
    proxy::request_record& record = finish.record;
    record.ended = released;
    // The times the terminal saw: when the first answer byte and the last byte went to it.
    if (first_byte_seq_ == record.seq && first_byte_seq_ != 0) {
        record.first_answer_byte = first_byte_at_;
    }
    ++requests_written_;
    if (journal_.enabled()) journal_.write(proxy::request_line(label_, record, finish.faults));
}

void session::write_queued_records(time_point now, const std::string& cut_detail) {
    std::vector<item> finished;
    for (direction* d : {&up_, &down_}) {
        for (item& it : d->queue) {
            if (it.type == item_type::finish) finished.push_back(std::move(it));
        }
        d->queue.erase(std::remove_if(d->queue.begin(), d->queue.end(),
                                      [](const item& it) { return it.type == item_type::finish; }),
                       d->queue.end());
    }
    std::sort(finished.begin(), finished.end(),
              [](const item& a, const item& b) { return a.record.seq < b.record.seq; });
    for (item& it : finished) {
        if (!cut_detail.empty()) {
            it.record.result = proxy::outcome::cut;
            it.record.detail = cut_detail;
        }
        write_record(std::move(it), now);
    }
}

bool session::releasable(const direction& d, time_point now) const {
    if (d.queue.empty() || over_ || frozen(now) || now < d.hold_until) return false;
    const bool outbox_busy = !d.broken && d.written < d.outbox.size();
    switch (d.queue.front().type) {
        case item_type::bytes:
        case item_type::hold:
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
    for (const direction* d : {&up_, &down_}) {
        if (!d->queue.empty() && now < d->hold_until) consider(d->hold_until);
        if (d->rate > 0 && d->written < d->outbox.size() && write_budget(*d, now) == 0) {
            consider(d->rate_since + seconds_of(static_cast<double>(d->rate_sent) / d->rate));
        }
    }
    if (header_hold_since_) consider(*header_hold_since_ + header_grace);
    if (!wake) return -1;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(*wake - now).count();
    return static_cast<int>(std::clamp<long long>(left, 0, 1 << 30));
}
