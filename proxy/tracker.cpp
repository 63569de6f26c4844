// The tracker's feed, and the terminal's side of the exchange: request headers, the NEXTs of a
// GET, the payload of a PUT and where its command name ends.
#include "proxy/tracker.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <limits>

#include "protocol/protocol.h"
#include "proxy/byte_text.h"
#include "proxy/wire.h"

namespace proxy {

namespace {

using namespace std::chrono_literals;

constexpr std::size_t header_len = protocol::header_len;
constexpr long long chunk_size = protocol::chunk_size;
// A command name longer than this is kept cut; no command has a name near it.
constexpr std::size_t command_keep = 256;

}  // namespace

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
    const fragment f = take_fixed(header_, header_len, piece::header, bytes, side::terminal, out);
    const std::size_t n = f.size;
    if (!f.completes) return n;

    current_.seq = ++seq_;
    current_.kind = wire::kind_of(header_);
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
            put_len_ =
                wire::put_length(std::string_view(header_).substr(protocol::put_token.size()));
            put_refused_ = wire::length_refused(put_len_);
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
        if (wire::kind_of(std::string_view(header_).substr(k)) != request_kind::unknown) stray = k;
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
        return "sent " + counted(extra, "byte") + " more than the PUT length " +
               std::to_string(previous_length_);
    }
    return counted(extra, "stray byte") + " before the header";
}

std::size_t tracker::take_next(std::string_view bytes, time_point now, std::vector<fragment>& out) {
    const fragment f = take_fixed(next_slot_, protocol::next_token.size(), piece::next, bytes,
                                  side::terminal, out, nexts_done_ + 1);
    const std::size_t n = f.size;
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

}  // namespace proxy
