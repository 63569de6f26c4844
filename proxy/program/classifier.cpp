#include "proxy/program/classifier.h"

#include <algorithm>
#include <chrono>

#include "protocol/protocol.h"

namespace {

using namespace std::chrono_literals;
using proxy::piece;
using proxy::side;
using proxy::time_point;

// How long the first bytes of what may become a PUT header wait for the rest of it, when a
// rule decided at the header may answer the PUT (ERR! needs the header whole and unrelayed).
constexpr auto header_grace = 500ms;

// The bytes so far could be the start of a PUT header.
bool put_prefix(std::string_view bytes) {
    const std::string_view token = protocol::put_token;
    const std::size_t n = std::min(bytes.size(), token.size());
    return bytes.substr(0, n) == token.substr(0, n);
}

}  // namespace

// What the faults do at a decision, for the relay: markers before the request's next bytes,
// a throttle of the answer, a refusal, and ERR! in place of the controller.
class classifier::decision final : public proxy::request_controls {
  public:
    decision(classifier& c, time_point now) : c_(c), now_(now) {}

    void hold(double seconds) override {
        relay_item it;
        it.type = item_type::hold;
        it.seconds = seconds;
        before.push_back(std::move(it));
    }
    void throttle(double bytes_per_second) override {
        relay_item rate;
        rate.type = item_type::rate;
        rate.rate = bytes_per_second;
        before.push_back(rate);
        c_.enqueue(c_.down_, std::move(rate), now_);
        c_.throttled_ = true;
    }
    void refuse_connections(std::size_t rule, double seconds) override {
        c_.services_.refusals.refuse_for(seconds);
        if (c_.services_.journal.enabled()) {
            c_.services_.journal.write(proxy::refuse_line(c_.label_, rule, seconds));
        }
    }
    bool header_relayed() const override { return c_.header_bytes_queued_ > 0; }
    void answer_err(std::size_t rule) override { err_rule = rule; }

    std::vector<relay_item> before;       // for the terminal's direction
    std::optional<std::size_t> err_rule;  // the rule whose ERR! answers the request

  private:
    classifier& c_;
    time_point now_;
};

// A run of bytes as the faults leave it: markers before and after it, or dropped.
class classifier::run final : public proxy::fragment_controls {
  public:
    run(side from, const proxy::fragment& f, std::string& bytes)
        : fragment_controls(from, f, bytes) {}

    void stall(double seconds, place where) override {
        relay_item it;
        it.type = item_type::freeze;
        it.seconds = seconds;
        at(where).push_back(std::move(it));
    }
    void cut(bool reset, std::string detail, place where) override {
        relay_item it;
        it.type = item_type::cut;
        it.reset = reset;
        it.detail = std::move(detail);
        at(where).push_back(std::move(it));
    }
    void drop() override { dropped = true; }

    std::vector<relay_item> before;
    std::vector<relay_item> after;
    bool dropped = false;

  private:
    std::vector<relay_item>& at(place where) { return where == place::before ? before : after; }
};

classifier::classifier(const session_services& services, const proxy::connection_label& label,
                       proxy::tracker& tracker, relay_direction& up, relay_direction& down,
                       const proxy::time_point& frozen_until)
    : services_(services),
      label_(label),
      tracker_(tracker),
      up_(up),
      down_(down),
      frozen_until_(frozen_until) {}

bool classifier::classify(relay_direction& d, time_point now) {
    if (d.end_queued) return false;
    bool moved = false;
    if (d.from == side::terminal && down_.end_queued && !d.inbox.empty()) {
        // The controller has ended its stream: nothing of the terminal's is an exchange any
        // more, and its bytes go on as they are (a controller that closed answers them with a
        // reset, which reaches the terminal).
        relay_item rest;
        rest.bytes = std::move(d.inbox);
        d.inbox.clear();
        enqueue(d, std::move(rest), now);
        moved = true;
    }
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
            for (relay_item& it : decide(now, drop_header))
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
        if (r.why == proxy::stop::held) break;
    }
    if (d.source_ended && d.inbox.empty()) {
        // Everything the side sent is classified: its end of stream follows. A controller
        // that ends while a fault holds terminal bytes back may have waited for them.
        tracker_.end(
            d.from, d.reset, now,
            d.from == side::controller ? up_.queued_bytes + (up_.outbox.size() - up_.written) : 0);
        std::vector<proxy::request_record> done = tracker_.take_finished();
        enqueue_finished(d, done, now);
        relay_item end;
        end.type = item_type::end;
        end.reset = d.reset;
        enqueue(d, std::move(end), now);
        d.end_queued = true;
        moved = true;
    }
    return moved;
}

bool classifier::hold_header(time_point now) {
    const bool may_be_put = tracker_.awaiting_header() && !up_.source_ended &&
                            up_.inbox.size() < static_cast<std::size_t>(protocol::header_len) &&
                            put_prefix(up_.inbox);
    if (!may_be_put || !services_.rules.current()->decides_at_header()) {
        header_hold_since_.reset();
        return false;
    }
    if (!header_hold_since_) header_hold_since_ = now;
    // A header that trickles in is relayed as it comes after a while, as the controller
    // would see it; a rule decided at the header then cannot act on it.
    return now - *header_hold_since_ < header_grace;
}

std::optional<time_point> classifier::header_deadline() const {
    if (!header_hold_since_) return std::nullopt;
    return *header_hold_since_ + header_grace;
}

std::vector<relay_item> classifier::decide(time_point now, bool& drop_header) {
    const proxy::pending_request p = tracker_.pending();
    if (p.point == proxy::decision_point::header) {
        answer_started_ = false;
        throttled_ = false;
        header_hold_since_.reset();
    }
    decision relay(*this, now);
    faults_.start(p, services_.rules.current()->decide(p), relay);
    if (relay.err_rule) {
        // The header stays with the proxy; ERR! goes back as the controller would send it.
        drop_header = true;
        tracker_.answer_err(now, "ERR! answered by the proxy (rules[" +
                                     std::to_string(*relay.err_rule) +
                                     "]); the controller never saw the request");
        relay_item err;
        err.bytes = protocol::err_token;
        err.answer_start = true;
        err.seq = faults_.seq();
        answer_started_ = true;
        enqueue(down_, std::move(err), now);
        std::vector<proxy::request_record> done = tracker_.take_finished();
        enqueue_finished(down_, done, now);
    }
    return std::move(relay.before);
}

void classifier::enqueue_fragment(relay_direction& d, const proxy::fragment& f,
                                  std::string_view bytes, bool drop_header,
                                  std::vector<proxy::request_record>& done, time_point now) {
    const bool down = d.from == side::controller;
    if (f.what == piece::header) {
        if (drop_header) return;
        header_bytes_queued_ += f.size;
    }
    const bool answer_start = down && !answer_started_ && f.what != piece::untracked;
    if (answer_start) answer_started_ = true;
    if (!faults_.waiting() && !f.ends_request && d.queue.empty() && !frozen(now) &&
        now >= d.hold_until && !d.broken) {
        // The common case, with no fault to apply: the bytes go on as they are, at once.
        if (answer_start) d.note_answer_start(faults_.seq(), now);
        d.append_out(bytes);
        return;
    }
    std::string passing(bytes);
    run faulted(d.from, f, passing);
    faults_.pass(faulted);
    for (relay_item& it : faulted.before)
        enqueue(d, std::move(it), now);
    if (!faulted.dropped) {
        relay_item b;
        b.bytes = std::move(passing);
        b.answer_start = answer_start;
        b.seq = faults_.seq();
        enqueue(d, std::move(b), now);
    }
    if (f.ends_request && !done.empty()) {
        std::vector<proxy::request_record> first;
        first.push_back(std::move(done.front()));
        done.erase(done.begin());
        enqueue_finished(d, first, now);
    }
    for (relay_item& it : faulted.after)
        enqueue(d, std::move(it), now);
}

void classifier::enqueue(relay_direction& d, relay_item it, time_point now) {
    d.enqueue(std::move(it), now, frozen(now));
}

void classifier::enqueue_finished(relay_direction& d, std::vector<proxy::request_record>& done,
                                  time_point now) {
    for (proxy::request_record& record : done) {
        enqueue(d, finish_item(std::move(record)), now);
        if (throttled_) {
            // The throttle ends with its request, in both directions.
            for (relay_direction* each : {&up_, &down_}) {
                relay_item rate;
                rate.type = item_type::rate;
                enqueue(*each, std::move(rate), now);
            }
            throttled_ = false;
        }
    }
    done.clear();
}

relay_item classifier::finish_item(proxy::request_record record) {
    relay_item it;
    it.type = item_type::finish;
    it.faults = faults_.reports(record);
    it.record = std::move(record);
    return it;
}
