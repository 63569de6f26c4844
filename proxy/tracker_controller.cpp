// The tracker on the controller's side: the length header and answer of a GET, the tokens of a
// PUT.
#include <algorithm>

#include "protocol/protocol.h"
#include "proxy/byte_text.h"
#include "proxy/tracker.h"
#include "proxy/wire.h"

namespace proxy {

namespace {

constexpr std::size_t len_header_len = protocol::len_header_len;
constexpr long long chunk_size = protocol::chunk_size;

}  // namespace

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
    const fragment f =
        take_fixed(len_text_, len_header_len, piece::len, bytes, side::controller, out);
    const std::size_t n = f.size;
    if (!f.completes) return n;

    long long len = 0;
    if (!wire::parse_len_header(len_text_, len) || len < protocol::unknown_command_len) {
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
        nexts_needed_ = wire::chunks_for(len);
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
    const int nexts = wire::chunks_for(put_len_);
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
    const fragment f = take_fixed(token_, expected.size(), what, bytes, side::controller, out,
                                  what == piece::next ? tokens_done_ + 1 : 0);
    const std::size_t n = f.size;
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

}  // namespace proxy
