#include "proxy/program/relay_direction.h"

#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>

std::size_t relay_direction::waiting() const {
    return inbox.size() + queued_bytes + bookkeeping + (outbox.size() - written);
}

std::size_t relay_direction::overhead(const relay_item& it) {
    const proxy::request_record& r = it.record;
    return sizeof(relay_item) + it.detail.size() + r.header.size() + r.command.size() +
           r.text.size() + r.detail.size() + r.note.size() +
           it.faults.size() * sizeof(proxy::fault_report);
}

relay_item relay_direction::pop_front() {
    relay_item it = std::move(queue.front());
    queue.pop_front();
    bookkeeping -= overhead(it);
    if (it.type == item_type::bytes) queued_bytes -= it.bytes.size();
    return it;
}

void relay_direction::append_out(std::string_view bytes) {
    outbox.append(bytes);
    appended_total += bytes.size();
}

void relay_direction::hold_finish(relay_item finish) {
    bookkeeping += overhead(finish);
    finishing.push_back(finishing_record{std::move(finish), appended_total});
}

std::vector<relay_item> relay_direction::take_due() {
    std::vector<relay_item> due;
    while (!finishing.empty() && (broken || finishing.front().mark <= written_total)) {
        bookkeeping -= overhead(finishing.front().finish);
        due.push_back(std::move(finishing.front().finish));
        finishing.pop_front();
    }
    return due;
}

void relay_direction::note_answer_start(int seq, proxy::time_point now) {
    first_byte_seq = seq;
    first_byte_at = now;
}

void relay_direction::enqueue(relay_item it, proxy::time_point now, bool frozen) {
    if (it.type == item_type::bytes) {
        if (broken) return;
        // Nothing waits before these bytes: they go on at once.
        if (queue.empty() && !frozen && now >= hold_until) {
            if (it.answer_start) note_answer_start(it.seq, now);
            append_out(it.bytes);
            return;
        }
        queued_bytes += it.bytes.size();
    }
    bookkeeping += overhead(it);
    queue.push_back(std::move(it));
}

std::size_t relay_direction::write_budget(proxy::time_point now) const {
    if (rate <= 0) return outbox.size() - written;
    const double elapsed = std::chrono::duration<double>(now - rate_since).count();
    // The first byte goes at once; then one byte per 1/rate seconds.
    const auto allowed = static_cast<std::uint64_t>(std::floor(rate * elapsed)) + 1;
    return allowed > rate_sent ? static_cast<std::size_t>(allowed - rate_sent) : 0;
}

bool relay_direction::can_write(proxy::time_point now) const {
    return !broken && written < outbox.size() && write_budget(now) > 0;
}

bool relay_direction::flush(int fd, proxy::time_point now) {
    const std::size_t want = std::min(outbox.size() - written, write_budget(now));
    ssize_t k;
    do
        k = ::send(fd, outbox.data() + written, want, MSG_NOSIGNAL | MSG_DONTWAIT);
    while (k < 0 && errno == EINTR);
    if (k > 0) {
        written += static_cast<std::size_t>(k);
        written_total += static_cast<std::uint64_t>(k);
        rate_sent += static_cast<std::uint64_t>(k);
        if (written == outbox.size()) {
            outbox.clear();
            written = 0;
        }
        return true;
    }
    if (k < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return false;
    // The destination is gone (it closed or reset): what is left for it is dropped. The
    // session passes its reset on.
    broken = true;
    written_total = appended_total;
    outbox.clear();
    written = 0;
    return true;
}

std::optional<proxy::time_point> relay_direction::rate_wake(proxy::time_point now) const {
    if (rate <= 0 || written >= outbox.size() || write_budget(now) > 0) return std::nullopt;
    return rate_since + std::chrono::duration_cast<proxy::clock_type::duration>(
                            std::chrono::duration<double>(static_cast<double>(rate_sent) / rate));
}
