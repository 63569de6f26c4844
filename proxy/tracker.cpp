#include "proxy/tracker.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <limits>

#include "lib/protocol.h"
#include "proxy/byte_text.h"

namespace proxy {

namespace {

using namespace std::chrono_literals;

constexpr std::size_t header_len = protocol::header_len;
constexpr std::size_t len_header_len = protocol::len_header_len;
constexpr long long chunk_size = protocol::chunk_size;
// A command name longer than this is kept cut; no command has a name near it.
constexpr std::size_t command_keep = 256;
// The controller's limits as the proxy sees them: a close that comes this much earlier than a
// limit is not its time-out (the two clocks start a moment apart).
constexpr auto limit_slack = 100ms;
constexpr auto wait_limit = std::chrono::seconds(protocol::wait_seconds) - limit_slack;
constexpr auto transfer_limit = std::chrono::seconds(protocol::transfer_seconds) - limit_slack;

struct header_token {
    std::string_view token;
    request_kind kind;
};

// The controller tests the tokens in this order; the first whose bytes match decides.
constexpr std::array header_tokens{
    header_token{protocol::get_token, request_kind::get},
    header_token{protocol::put_token, request_kind::put},
    header_token{protocol::ping_token, request_kind::ping},
    header_token{protocol::disconnect_token, request_kind::disconnect},
};

request_kind kind_of(std::string_view header) {
    for (const auto& h : header_tokens) {
        if (header.starts_with(h.token)) return h.kind;
    }
    return request_kind::unknown;
}

bool is_space(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// The length of a PUT header as the controller reads it: leading white space, an optional
// sign, decimal digits up to the first other byte; no digits read as 0; beyond the 32-bit
// signed range the nearest limit.
long long put_length(std::string_view text) {
    std::size_t pos = 0;
    while (pos < text.size() && is_space(text[pos]))
        ++pos;
    bool negative = false;
    if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) {
        negative = text[pos] == '-';
        ++pos;
    }
    constexpr long long high = std::numeric_limits<std::int32_t>::max();
    constexpr long long low = std::numeric_limits<std::int32_t>::min();
    long long value = 0;
    for (; pos < text.size() && text[pos] >= '0' && text[pos] <= '9'; ++pos) {
        value = std::min(value * 10 + (text[pos] - '0'), high + 1);
    }
    return negative ? std::max(-value, low) : std::min(value, high);
}

// The controller refuses these lengths with "ERR!": taken as unsigned, above the limit.
bool length_refused(long long len) {
    return static_cast<std::uint32_t>(static_cast<std::int32_t>(len)) >
           static_cast<std::uint32_t>(protocol::max_payload);
}

// "LEN" and the length as "%010d": ten digits, or a minus sign and nine digits.
bool parse_len_header(std::string_view text, long long& len) {
    if (text.size() != len_header_len || !text.starts_with(protocol::len_token)) return false;
    std::string_view digits = text.substr(protocol::len_token.size());
    const bool negative = digits.front() == '-';
    if (negative) digits.remove_prefix(1);
    long long value = 0;
    for (const char c : digits) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + (c - '0');
    }
    if (value > std::numeric_limits<std::int32_t>::max()) return false;
    len = negative ? -value : value;
    return true;
}

int chunks_for(long long len) {
    return static_cast<int>((len + chunk_size - 1) / chunk_size);
}

std::string plural(long long n, std::string_view what) {
    return std::to_string(n) + " " + std::string(what) + (n == 1 ? "" : "s");
}

}  // namespace

tracker::tracker(std::size_t text_limit, time_point opened)
    : text_limit_(text_limit), last_terminal_byte_(opened) {}

feed_result tracker::feed(side from, std::string_view bytes, time_point now,
                          std::vector<fragment>& out) {
    feed_result result;
    out_ = &out;
    struct forget {
        std::vector<fragment>*& out;
        ~forget() { out = nullptr; }
    } forget_out{out_};
    while (result.consumed < bytes.size()) {
        const std::string_view rest = bytes.substr(result.consumed);
        stop why = stop::all;
        const std::size_t n = from == side::terminal ? take_terminal(rest, now, out, why)
                                                     : take_controller(rest, now, out);
        result.consumed += n;
        if (from == side::terminal && n > 0) last_terminal_byte_ = now;
        if (why == stop::decision) {
            result.why = stop::decision;
            return result;
        }
        if (n == 0) {
            result.why = stop::held;
            return result;
        }
    }
    return result;
}

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
    if (in_request() || (phase_ == phase::between && header_.size() == header_len)) {
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

// ---------------------------------------------------------------------------------------
// The terminal's side

std::size_t tracker::take_terminal(std::string_view bytes, time_point now,
                                   std::vector<fragment>& out, stop& why) {
    switch (phase_) {
        case phase::between:
            return take_header(bytes, now, out, why);
        case phase::get:
            // The NEXTs a GET needs are known from the length header; what follows them is
            // the next request, which waits until this answer is over.
            if (!len_known_ || nexts_done_ == nexts_needed_) return 0;
            return take_next(bytes, now, out);
        case phase::put:
            if (put_refused_ || payload_got_ == put_len_) return 0;
            return take_payload(bytes, out, why);
        case phase::closing:
        case phase::untracked:
        case phase::over:
            break;
    }
    out.push_back(fragment{piece::untracked, bytes.size()});
    return bytes.size();
}

std::size_t tracker::take_header(std::string_view bytes, time_point now, std::vector<fragment>& out,
                                 stop& why) {
    if (header_.empty()) start_request(now);
    const std::size_t n = std::min(header_len - header_.size(), bytes.size());
    fragment f{piece::header, n};
    f.offset = header_.size();
    f.starts = header_.empty();
    header_.append(bytes.substr(0, n));
    f.completes = header_.size() == header_len;
    out.push_back(f);
    current_.bytes_from_terminal += n;
    if (!f.completes) return n;

    current_.seq = ++seq_;
    current_.kind = kind_of(header_);
    current_.started = now;
    why = stop::decision;
    switch (current_.kind) {
        case request_kind::get: {
            // The name as the controller reads it: up to the first NUL of the 20-byte field.
            const std::string_view field = std::string_view(header_).substr(
                protocol::name_field_offset, protocol::name_field_len);
            std::string_view name = field.substr(0, field.find('\0'));
            if (name.size() < field.size()) {
                current_.note = "the name field holds NUL bytes; names are filled with blanks";
            }
            while (!name.empty() && name.back() == ' ')
                name.remove_suffix(1);
            current_.command = name;
            phase_ = phase::get;
            mark_decision(decision_point::header);
            break;
        }
        case request_kind::put:
            put_len_ = put_length(std::string_view(header_).substr(protocol::put_token.size()));
            put_refused_ = length_refused(put_len_);
            current_.length = put_len_;
            phase_ = phase::put;
            // Nothing to wait for: the command is known to be none.
            if (put_refused_ || put_len_ == 0) name_done_ = true;
            mark_decision(decision_point::header);
            break;
        case request_kind::ping:
            mark_decision(decision_point::header);
            finish(outcome::ok, now);
            break;
        case request_kind::disconnect:
            mark_decision(decision_point::header);
            finish(outcome::ok, now);
            phase_ = phase::closing;
            closing_reason_ = "DISCONNECT";
            break;
        case request_kind::unknown: {
            why = stop::all;
            current_.header = header_;
            std::string detail = "a header of no known kind: " + quoted(header_);
            if (const std::string cause = diagnose_unknown_header(); !cause.empty()) {
                detail += " (" + cause + ")";
            }
            violation(side::terminal, std::move(detail), now);
            break;
        }
    }
    return n;
}

// A header of no kind that holds a known token a few bytes in was most likely sent after a
// token or payload that was that much too long.
std::string tracker::diagnose_unknown_header() const {
    std::size_t stray = 0;
    for (std::size_t k = 1; k < header_len && stray == 0; ++k) {
        if (kind_of(std::string_view(header_).substr(k)) != request_kind::unknown) stray = k;
    }
    if (header_.starts_with(protocol::next_token) && previous_kind_ == request_kind::get &&
        previous_length_ == 0) {
        return "NEXT sent after an answer of length 0, which needs none";
    }
    if (stray == 0) return "";
    const auto extra = static_cast<long long>(stray);
    if (previous_kind_ == request_kind::get && previous_length_ > 0) {
        return "sent " + std::to_string(protocol::next_token.size() + stray) +
               " bytes where NEXT belongs";
    }
    if (previous_kind_ == request_kind::put && previous_length_ > 0) {
        return "sent " + plural(extra, "byte") + " more than the PUT length " +
               std::to_string(previous_length_);
    }
    return plural(extra, "stray byte") + " before the header";
}

std::size_t tracker::take_next(std::string_view bytes, time_point now, std::vector<fragment>& out) {
    const std::size_t want = protocol::next_token.size();
    const std::size_t n = std::min(want - next_slot_.size(), bytes.size());
    fragment f{piece::next, n, nexts_done_ + 1};
    f.offset = next_slot_.size();
    f.starts = next_slot_.empty();
    next_slot_.append(bytes.substr(0, n));
    f.completes = next_slot_.size() == want;
    out.push_back(f);
    current_.bytes_from_terminal += n;
    if (!f.completes) return n;
    if (next_slot_ != protocol::next_token) {
        violation(side::terminal, "sent " + quoted(next_slot_) + " where NEXT belongs", now);
        return n;
    }
    ++nexts_done_;
    next_slot_.clear();
    return n;
}

std::size_t tracker::take_payload(std::string_view bytes, std::vector<fragment>& out, stop& why) {
    const long long in_chunk = payload_got_ % chunk_size;
    std::size_t n = static_cast<std::size_t>(std::min(
        {static_cast<long long>(bytes.size()), chunk_size - in_chunk, put_len_ - payload_got_}));
    std::string_view run = bytes.substr(0, n);
    if (!nul_seen_) {
        // Stop right after the NUL that ends the name: the command is known there.
        const std::size_t nul = run.find('\0');
        if (nul != std::string_view::npos) run = run.substr(0, nul + 1);
        n = run.size();
        const std::string_view name = run.substr(0, nul == std::string_view::npos ? n : nul);
        const std::size_t room = command_keep - std::min(command_keep, current_.command.size());
        current_.command.append(name.substr(0, room));
        if (nul != std::string_view::npos) nul_seen_ = true;
    } else {
        keep_text(run);
    }
    fragment f{piece::payload, n, static_cast<int>(payload_got_ / chunk_size) + 1};
    f.offset = static_cast<std::size_t>(payload_got_);
    f.starts = in_chunk == 0;
    payload_got_ += static_cast<long long>(n);
    f.completes = payload_got_ % chunk_size == 0 || payload_got_ == put_len_;
    out.push_back(f);
    current_.bytes_from_terminal += n;
    if (f.completes) ++current_.chunks;
    if (!name_done_ && (nul_seen_ || payload_got_ == put_len_)) {
        name_done_ = true;
        if (!nul_seen_) {
            // No NUL: the controller runs nothing; what came is shown as the argument.
            current_.note = "the payload has no NUL after a command name; no command runs";
            current_.text = current_.command.substr(0, text_limit_);
            current_.text_size = static_cast<std::size_t>(payload_got_);
            current_.command.clear();
        }
        mark_decision(decision_point::command);
        why = stop::decision;
    }
    return n;
}

// ---------------------------------------------------------------------------------------
// The controller's side

std::size_t tracker::take_controller(std::string_view bytes, time_point now,
                                     std::vector<fragment>& out) {
    switch (phase_) {
        case phase::get:
            return len_known_ ? take_answer(bytes, now, out) : take_len(bytes, now, out);
        case phase::put:
            return take_put_token(bytes, now, out);
        case phase::between:
            out.push_back(fragment{piece::untracked, bytes.size()});
            violation(side::controller,
                      "sent " + quoted(bytes) + " while no request was waiting for an answer", now);
            return bytes.size();
        case phase::closing:
            out.push_back(fragment{piece::untracked, bytes.size()});
            violation(side::controller,
                      "sent " + quoted(bytes) + " after " + closing_reason_ +
                          ", where it ends the connection",
                      now);
            return bytes.size();
        case phase::untracked:
        case phase::over:
            break;
    }
    out.push_back(fragment{piece::untracked, bytes.size()});
    return bytes.size();
}

std::size_t tracker::take_len(std::string_view bytes, time_point now, std::vector<fragment>& out) {
    if (len_text_.empty()) current_.first_answer_byte = now;
    const std::size_t n = std::min(len_header_len - len_text_.size(), bytes.size());
    fragment f{piece::len, n};
    f.offset = len_text_.size();
    f.starts = len_text_.empty();
    len_text_.append(bytes.substr(0, n));
    f.completes = len_text_.size() == len_header_len;
    out.push_back(f);
    current_.bytes_from_controller += n;
    if (!f.completes) return n;

    long long len = 0;
    if (!parse_len_header(len_text_, len) || len < protocol::unknown_command_len) {
        violation(side::controller,
                  "sent " + quoted(len_text_) + " where the length header LEN%010d belongs", now);
        return n;
    }
    out.back().length = len;
    current_.length = len;
    answer_len_ = len;
    len_known_ = true;
    transfer_started_ = now;
    if (len == protocol::unknown_command_len) {
        finish(outcome::unknown_command, now,
               "no read command is named " + quoted(current_.command));
        phase_ = phase::closing;
        closing_reason_ = "LEN-000000001";
    } else if (len == 0) {
        finish(outcome::ok, now);
    } else {
        nexts_needed_ = chunks_for(len);
    }
    return n;
}

std::size_t tracker::take_answer(std::string_view bytes, time_point now,
                                 std::vector<fragment>& out) {
    // Each chunk answers one NEXT of the terminal's.
    const long long allowed = std::min(answer_len_, nexts_done_ * chunk_size) - answer_got_;
    if (allowed <= 0) {
        out.push_back(fragment{piece::untracked, bytes.size()});
        current_.bytes_from_controller += bytes.size();
        violation(side::controller,
                  "sent " + quoted(bytes) + " before the terminal's NEXT " +
                      std::to_string(nexts_done_ + 1),
                  now);
        return bytes.size();
    }
    const long long in_chunk = answer_got_ % chunk_size;
    const auto n = static_cast<std::size_t>(
        std::min({static_cast<long long>(bytes.size()), allowed, chunk_size - in_chunk}));
    keep_text(bytes.substr(0, n));
    fragment f{piece::answer, n, static_cast<int>(answer_got_ / chunk_size) + 1};
    f.offset = static_cast<std::size_t>(answer_got_);
    f.starts = in_chunk == 0;
    answer_got_ += static_cast<long long>(n);
    f.completes = answer_got_ % chunk_size == 0 || answer_got_ == answer_len_;
    out.push_back(f);
    current_.bytes_from_controller += n;
    if (f.completes) ++current_.chunks;
    if (answer_got_ == answer_len_) finish(outcome::ok, now);
    return n;
}

std::size_t tracker::take_put_token(std::string_view bytes, time_point now,
                                    std::vector<fragment>& out) {
    const int nexts = chunks_for(put_len_);
    std::string_view expected = protocol::fin_token;
    piece what = piece::fin;
    if (put_refused_) {
        expected = protocol::err_token;
        what = piece::err;
    } else if (tokens_done_ < nexts) {
        expected = protocol::next_token;
        what = piece::next;
    }
    if (token_.empty()) {
        if (!current_.first_answer_byte) current_.first_answer_byte = now;
        // NEXT k asks for chunk k, so it follows chunk k-1; FIN follows the whole payload.
        const long long needed_before = what == piece::next
                                            ? std::min(put_len_, tokens_done_ * chunk_size)
                                            : (what == piece::fin ? put_len_ : 0);
        if (payload_got_ < needed_before) {
            out.push_back(fragment{piece::untracked, bytes.size()});
            current_.bytes_from_controller += bytes.size();
            violation(side::controller,
                      "sent " + quoted(bytes) + " before the terminal's payload chunk " +
                          std::to_string(payload_got_ / chunk_size + 1) + " was complete",
                      now);
            return bytes.size();
        }
    }
    const std::size_t n = std::min(expected.size() - token_.size(), bytes.size());
    fragment f{what, n, what == piece::next ? tokens_done_ + 1 : 0};
    f.offset = token_.size();
    f.starts = token_.empty();
    token_.append(bytes.substr(0, n));
    f.completes = token_.size() == expected.size();
    out.push_back(f);
    current_.bytes_from_controller += n;
    if (!f.completes) return n;
    if (token_ != expected) {
        std::string detail =
            "sent " + quoted(token_) + " where " + std::string(expected) + " belongs";
        if (token_ == protocol::err_token && tokens_done_ == 0) {
            detail = "answered ERR! to a PUT of " + std::to_string(put_len_) +
                     " bytes, within the limit of " + std::to_string(protocol::max_payload);
        }
        violation(side::controller, std::move(detail), now);
        return n;
    }
    token_.clear();
    if (what == piece::next) {
        if (tokens_done_ == 0) transfer_started_ = now;
        ++tokens_done_;
    } else if (what == piece::err) {
        finish(outcome::err, now,
               "the length " + std::to_string(put_len_) + " is outside 0.." +
                   std::to_string(protocol::max_payload));
    } else {
        finish(outcome::ok, now);
    }
    return n;
}

// ---------------------------------------------------------------------------------------
// Ends

void tracker::answer_err(time_point now, std::string detail) {
    finish(outcome::err, now, std::move(detail));
}

std::string tracker::missing_terminal_step() const {
    if (phase_ == phase::get && len_known_ && nexts_done_ < nexts_needed_ &&
        answer_got_ == nexts_done_ * chunk_size) {
        const std::string which = "NEXT " + std::to_string(nexts_done_ + 1);
        if (next_slot_.empty()) return which;
        return which + " (it sent " + quoted(next_slot_) + ")";
    }
    if (phase_ == phase::put && !put_refused_ && payload_got_ < put_len_ &&
        tokens_done_ * chunk_size > payload_got_) {
        return "payload chunk " + std::to_string(payload_got_ / chunk_size + 1) + " (" +
               std::to_string(payload_got_ % chunk_size) + " of " +
               std::to_string(
                   std::min(chunk_size, put_len_ - payload_got_ / chunk_size * chunk_size)) +
               " bytes came)";
    }
    return "";
}

std::string tracker::where_in_request() const {
    if (phase_ == phase::get) {
        if (!len_known_) return "before the length header";
        return "after " + std::to_string(answer_got_) + " of " + std::to_string(answer_len_) +
               " answer bytes";
    }
    if (put_refused_) return "before ERR!";
    if (payload_got_ == put_len_ && tokens_done_ == chunks_for(put_len_)) return "before FIN";
    return "after " + std::to_string(payload_got_) + " of " + std::to_string(put_len_) +
           " payload bytes";
}

void tracker::classify_controller_close(bool reset, time_point now, std::size_t held) {
    const std::string how = reset ? "reset the connection" : "closed the connection";
    const auto since_terminal = now - last_terminal_byte_;
    if (!in_request()) {
        if (phase_ == phase::closing && closing_reason_ == "DISCONNECT") {
            ending_ = {"terminal", "DISCONNECT"};
        } else if (phase_ == phase::closing) {
            ending_ = {"controller", "unknown command"};
        } else if (!stray_.empty()) {
            ending_ = {"controller", stray_};
        } else if (!violated_by_.empty()) {
            ending_ = {"controller", how + " after the " + violated_by_ + "'s protocol violation"};
        } else if (!header_.empty() && header_.size() < header_len) {
            const std::string got = std::to_string(header_.size()) + " of the " +
                                    std::to_string(header_len) + " bytes of a header";
            if (terminal_ended_) {
                ending_ = {"terminal", "closed after " + got};
            } else if (since_terminal >= wait_limit) {
                ending_ = {"controller", "time-out: " + got + " and nothing more for " +
                                             std::to_string(protocol::wait_seconds) + " s"};
            } else {
                ending_ = {"controller", how + " after " + got};
            }
        } else if (terminal_ended_) {
            ending_ = {"terminal", "end of stream"};
        } else if (held > 0 && since_terminal >= wait_limit) {
            ending_ = {"controller", "time-out: no request for " +
                                         std::to_string(protocol::wait_seconds) +
                                         " s (the proxy held back " +
                                         plural(static_cast<long long>(held), "byte") + ")"};
        } else if (since_terminal >= wait_limit) {
            ending_ = {"controller",
                       "time-out: no request for " + std::to_string(protocol::wait_seconds) + " s"};
        } else {
            ending_ = {"controller", how};
        }
        return;
    }
    std::string missing = missing_terminal_step();
    if (held > 0) {
        // The controller waits for bytes that a fault of the proxy holds back.
        missing = "the terminal's next " + plural(static_cast<long long>(held), "byte") +
                  ", which the proxy held back";
    }
    if (!missing.empty() && terminal_ended_) {
        finish(outcome::closed_by_terminal, now, "the terminal closed before sending " + missing);
        ending_ = {"terminal", "closed during a request"};
    } else if (!missing.empty() && since_terminal >= wait_limit) {
        finish(outcome::timeout, now,
               "the controller waited " + std::to_string(protocol::wait_seconds) + " s for " +
                   missing);
        ending_ = {"controller", "time-out"};
    } else if (!missing.empty() && now - transfer_started_ >= transfer_limit) {
        finish(outcome::timeout, now,
               "the transfer passed its limit of " + std::to_string(protocol::transfer_seconds) +
                   " s before " + missing);
        ending_ = {"controller", "time-out"};
    } else {
        finish(outcome::closed_by_controller, now,
               "the controller " + how + " " + where_in_request());
        ending_ = {"controller", how + " during a request"};
    }
}

void tracker::end(side s, bool reset, time_point now, std::size_t held) {
    const bool first = !terminal_ended_ && !controller_ended_;
    if (s == side::terminal) {
        terminal_ended_ = true;
        if (first && phase_ != phase::over) {
            // The controller's reaction decides the request's fate; until then, this much
            // is known.
            ending_ = {"terminal", reset ? "reset the connection" : "end of stream"};
        }
    } else {
        controller_ended_ = true;
        if (phase_ != phase::over) {
            const connection_end before = ending_;
            classify_controller_close(reset, now, held);
            // A terminal that ended first stays the one that ended the connection.
            if (!first && before.by == "terminal" && ending_.by != "terminal") {
                ending_ = before;
            }
        }
    }
    if (terminal_ended_ && controller_ended_ && phase_ != phase::over) {
        if (in_request()) {
            finish(outcome::closed_by_terminal, now,
                   "the terminal ended the connection " + where_in_request());
        }
        phase_ = phase::over;
    }
}

void tracker::cut(time_point now, std::string detail) {
    if (in_request()) finish(outcome::cut, now, detail);
    ending_ = {"proxy", std::move(detail)};
    phase_ = phase::over;
}

}  // namespace proxy
