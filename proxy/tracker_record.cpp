// The tracker's record of the request at hand: starting and finishing it, a violation that
// ends it, the text it keeps, the decisions on it, and the accumulation of a run of fixed size
// that both sides' steps share. Calls nothing else of the tracker.
#include <algorithm>

#include "protocol/protocol.h"
#include "proxy/tracker.h"

namespace proxy {

tracker::tracker(std::size_t text_limit, time_point opened)
    : text_limit_(text_limit), last_terminal_byte_(opened) {}

pending_request tracker::pending() const {
    pending_request p = pending_;
    p.command = pending_command_;
    return p;
}

void tracker::mark_decision(decision_point point) {
    pending_.seq = current_.seq;
    pending_.kind = current_.kind;
    pending_.point = point;
    pending_.command_known =
        point == decision_point::command || current_.kind != request_kind::put || name_done_;
    pending_.length = current_.length.value_or(0);
    pending_command_ = current_.command;
}

bool tracker::in_request() const {
    return phase_ == phase::get || phase_ == phase::put;
}

void tracker::start_request(time_point now) {
    current_ = request_record{};
    current_.started = now;
    header_.clear();
    len_text_.clear();
    len_known_ = false;
    answer_len_ = 0;
    nexts_needed_ = 0;
    nexts_done_ = 0;
    next_slot_.clear();
    answer_got_ = 0;
    put_len_ = 0;
    put_refused_ = false;
    payload_got_ = 0;
    name_done_ = false;
    nul_seen_ = false;
    token_.clear();
    tokens_done_ = 0;
}

void tracker::finish(outcome result, time_point now, std::string detail) {
    if (current_.kind == request_kind::put && !nul_seen_ && !current_.command.empty()) {
        // The name never ended: what came of it is shown as the payload's text.
        current_.text = current_.command.substr(0, text_limit_);
        current_.text_size = static_cast<std::size_t>(payload_got_);
        current_.command.clear();
    }
    previous_kind_ = current_.kind;
    previous_length_ = current_.length.value_or(0);
    current_.result = result;
    current_.ended = now;
    current_.detail = std::move(detail);
    if (out_ != nullptr && !out_->empty()) out_->back().ends_request = true;
    finished_.push_back(std::move(current_));
    current_ = request_record{};
    header_.clear();
    // The controller's wait for the next header starts when this exchange is over.
    last_terminal_byte_ = std::max(last_terminal_byte_, now);
    phase_ = phase::between;
}

void tracker::violation(side by, std::string detail, time_point now) {
    violated_by_ = std::string(side_name(by));
    lost_track_ = violated_by_ + " violated the protocol: " + detail;
    if (in_request() || (phase_ == phase::between &&
                         header_.size() == static_cast<std::size_t>(protocol::header_len))) {
        finish(by == side::terminal ? outcome::violation_by_terminal
                                    : outcome::violation_by_controller,
               now, std::move(detail));
    } else {
        // No request is at hand: the close reports it.
        stray_ = std::string(side_name(by)) + " violated the protocol: " + detail;
    }
    phase_ = phase::untracked;
}

void tracker::keep_text(std::string_view bytes) {
    current_.text_size += bytes.size();
    const std::size_t room = text_limit_ - std::min(text_limit_, current_.text.size());
    current_.text.append(bytes.substr(0, room));
}

std::vector<request_record> tracker::take_finished() {
    std::vector<request_record> done;
    done.swap(finished_);
    return done;
}

fragment tracker::take_fixed(std::string& so_far, std::size_t size, piece what,
                             std::string_view bytes, side from, std::vector<fragment>& out,
                             int index) {
    const std::size_t n = std::min(size - so_far.size(), bytes.size());
    fragment f{what, n, index};
    f.offset = so_far.size();
    f.starts = so_far.empty();
    so_far.append(bytes.substr(0, n));
    f.completes = so_far.size() == size;
    out.push_back(f);
    (from == side::terminal ? current_.bytes_from_terminal : current_.bytes_from_controller) += n;
    return f;
}

}  // namespace proxy
