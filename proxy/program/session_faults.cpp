// The faults of a session: deciding the rules on a request, and placing each fault at its point
// in the stream as the tracker's fragments pass (before or after them, or on their bytes).
#include <algorithm>
#include <chrono>
#include <cmath>

#include "protocol/protocol.h"
#include "proxy/program/session.h"

namespace {

using proxy::piece;
using proxy::side;
using proxy::time_point;

std::string point_text(const proxy::rule& r) {
    switch (r.at) {
        case proxy::point::before_len:
            return "before the length header";
        case proxy::point::before_fin:
            return "before FIN";
        case proxy::point::after_chunk:
            return std::string("after ") +
                   (r.kind == proxy::request_kind::get ? "answer" : "payload") + " chunk " +
                   std::to_string(r.chunk);
        case proxy::point::none:
            break;
    }
    return "";
}

// Why a fault whose point never came was not applied.
std::string missed_reason(const proxy::rule& r, const proxy::request_record& record) {
    const std::string ended =
        "the request ended (" + std::string(proxy::outcome_name(record.result)) + ") first";
    if (record.result != proxy::outcome::ok) return ended;
    switch (r.what) {
        case proxy::action::stall:
        case proxy::action::cut:
            if (r.at == proxy::point::after_chunk) {
                return std::string(r.kind == proxy::request_kind::get ? "the answer"
                                                                      : "the payload") +
                       " has " + std::to_string(record.chunks) +
                       (record.chunks == 1 ? " chunk" : " chunks");
            }
            if (r.at == proxy::point::before_len) return "the request had no length header";
            return "the request had no FIN";
        case proxy::action::corrupt:
            return "the answer has " + std::to_string(record.length.value_or(0)) + " bytes";
        case proxy::action::drop_fin:
            return "the request had no FIN";
        default:
            return ended;
    }
}

}  // namespace

std::vector<session::item> session::decide(time_point now, bool& drop_header) {
    const proxy::pending_request p = tracker_.pending();
    if (p.point == proxy::decision_point::header) {
        request_seq_ = p.seq;
        faults_.clear();
        answer_started_ = false;
        throttled_ = false;
        header_hold_since_.reset();
    }
    std::vector<item> before;
    bool answer_err = false;
    for (proxy::planned_fault& plan : services_.rules.current()->decide(p)) {
        active_fault f;
        f.report = proxy::report_of(plan);
        const proxy::rule& r = plan.rule_copy;
        switch (r.what) {
            case proxy::action::delay: {
                item hold;
                hold.type = item_type::hold;
                hold.seconds = plan.seconds;
                before.push_back(std::move(hold));
                f.report.applied = true;
                f.resolved = true;
                break;
            }
            case proxy::action::throttle: {
                item rate;
                rate.type = item_type::rate;
                rate.rate = r.bytes_per_second;
                before.push_back(rate);
                enqueue(down_, std::move(rate), now);
                throttled_ = true;
                f.report.applied = true;
                f.resolved = true;
                break;
            }
            case proxy::action::refuse:
                services_.refusals.refuse_for(plan.seconds);
                if (journal_.enabled()) {
                    journal_.write(proxy::refuse_line(label_, plan.index, plan.seconds));
                }
                f.report.applied = true;
                f.resolved = true;
                break;
            case proxy::action::err:
                if (header_bytes_queued_ > 0) {
                    f.report.missed =
                        "the header came in pieces, and its first bytes had been "
                        "relayed before it was complete";
                } else {
                    answer_err = true;
                    f.report.applied = true;
                }
                f.resolved = true;
                break;
            case proxy::action::corrupt:
                f.position = r.position;
                break;
            default:
                break;
        }
        f.plan = std::move(plan);
        faults_.push_back(std::move(f));
    }
    if (answer_err) {
        // The header stays with the proxy; ERR! goes back as the controller would send it.
        drop_header = true;
        std::size_t rule = 0;
        for (const active_fault& f : faults_) {
            if (f.plan.rule_copy.what == proxy::action::err) rule = f.plan.index;
        }
        tracker_.answer_err(now, "ERR! answered by the proxy (rules[" + std::to_string(rule) +
                                     "]); the controller never saw the request");
        item err;
        err.bytes = protocol::err_token;
        err.answer_start = true;
        err.seq = request_seq_;
        answer_started_ = true;
        enqueue(down_, std::move(err), now);
        std::vector<proxy::request_record> done = tracker_.take_finished();
        enqueue_finished(down_, done, now);
    }
    return before;
}

void session::enqueue_fragment(direction& d, const proxy::fragment& f, std::string_view bytes,
                               bool drop_header, std::vector<proxy::request_record>& done,
                               time_point now) {
    const bool down = d.from == side::controller;
    if (f.what == piece::header) {
        if (drop_header) return;
        header_bytes_queued_ += f.size;
    }
    const bool answer_start = down && !answer_started_ && f.what != piece::untracked;
    if (answer_start) answer_started_ = true;
    const bool faults_pending = std::any_of(faults_.begin(), faults_.end(),
                                            [](const active_fault& af) { return !af.resolved; });
    if (!faults_pending && !f.ends_request && d.queue.empty() && !frozen(now) &&
        now >= d.hold_until && !d.broken) {
        // The common case, with no fault to apply: the bytes go on as they are, at once.
        if (answer_start) {
            first_byte_seq_ = request_seq_;
            first_byte_at_ = now;
        }
        d.outbox.append(bytes);
        return;
    }
    std::vector<item> before;
    std::vector<item> after;
    std::string run(bytes);
    bool drop = false;
    for (active_fault& af : faults_) {
        if (af.resolved) continue;
        const proxy::rule& r = af.plan.rule_copy;
        switch (r.what) {
            case proxy::action::stall:
            case proxy::action::cut: {
                const bool at_start = down && f.starts &&
                                      ((r.at == proxy::point::before_len && f.what == piece::len) ||
                                       (r.at == proxy::point::before_fin && f.what == piece::fin));
                const bool at_end =
                    r.at == proxy::point::after_chunk && f.completes && f.index == r.chunk &&
                    ((down && f.what == piece::answer) || (!down && f.what == piece::payload));
                if (!at_start && !at_end) break;
                item it;
                if (r.what == proxy::action::stall) {
                    it.type = item_type::freeze;
                    it.seconds = af.plan.seconds;
                } else {
                    it.type = item_type::cut;
                    it.reset = r.reset;
                    it.detail = "rules[" + std::to_string(af.plan.index) + "]: cut (" +
                                (r.reset ? "reset" : "close") + ") " + point_text(r);
                }
                (at_start ? before : after).push_back(std::move(it));
                af.report.applied = true;
                af.resolved = true;
                break;
            }
            case proxy::action::corrupt: {
                if (down && f.what == piece::len && f.completes && !af.position && f.length > 0) {
                    af.position = static_cast<long long>(
                        std::floor(af.plan.position_draw * static_cast<double>(f.length)));
                }
                if (!down || f.what != piece::answer || !af.position) break;
                const auto pos = static_cast<std::size_t>(*af.position);
                if (pos < f.offset || pos >= f.offset + f.size) break;
                char& byte = run[pos - f.offset];
                af.report.position = *af.position;
                af.report.from = static_cast<unsigned char>(byte);
                // Every bit flipped: surely another byte, and never printable text.
                byte = static_cast<char>(~static_cast<unsigned char>(byte));
                af.report.to = static_cast<unsigned char>(byte);
                af.report.applied = true;
                af.resolved = true;
                break;
            }
            case proxy::action::drop_fin:
                // Resolved when the request is over, so that a FIN in pieces goes whole.
                if (down && f.what == piece::fin) {
                    drop = true;
                    af.report.applied = true;
                }
                break;
            default:
                break;
        }
    }
    for (item& it : before)
        enqueue(d, std::move(it), now);
    if (!drop) {
        item b;
        b.bytes = std::move(run);
        b.answer_start = answer_start;
        b.seq = request_seq_;
        enqueue(d, std::move(b), now);
    }
    if (f.ends_request && !done.empty()) {
        std::vector<proxy::request_record> first;
        first.push_back(std::move(done.front()));
        done.erase(done.begin());
        enqueue_finished(d, first, now);
    }
    for (item& it : after)
        enqueue(d, std::move(it), now);
}

void session::enqueue_finished(direction& d, std::vector<proxy::request_record>& done,
                               time_point now) {
    for (proxy::request_record& record : done) {
        enqueue(d, finish_item(std::move(record)), now);
        if (throttled_) {
            // The throttle ends with its request, in both directions.
            for (direction* each : {&up_, &down_}) {
                item rate;
                rate.type = item_type::rate;
                enqueue(*each, std::move(rate), now);
            }
            throttled_ = false;
        }
    }
    done.clear();
}

session::item session::finish_item(proxy::request_record record) {
    item it;
    it.type = item_type::finish;
    if (record.seq == request_seq_) {
        for (active_fault& af : faults_) {
            if (!af.report.applied && af.report.missed.empty()) {
                af.report.missed = missed_reason(af.plan.rule_copy, record);
            }
            af.resolved = true;
            it.faults.push_back(af.report);
        }
    }
    it.record = std::move(record);
    return it;
}
