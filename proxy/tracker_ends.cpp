// The tracker at the ends of a connection: who ended it, and how the request at hand ended
// with it (the controller's time limits told from its other closes).
#include <algorithm>
#include <chrono>

#include "protocol/protocol.h"
#include "proxy/byte_text.h"
#include "proxy/tracker.h"
#include "proxy/wire.h"

namespace proxy {

namespace {

using namespace std::chrono_literals;

constexpr std::size_t header_len = protocol::header_len;
constexpr long long chunk_size = protocol::chunk_size;
// The controller's limits as the proxy sees them: a close that comes this much earlier than a
// limit is not its time-out (the two clocks start a moment apart).
constexpr auto limit_slack = 100ms;
constexpr auto wait_limit = std::chrono::seconds(protocol::wait_seconds) - limit_slack;
constexpr auto transfer_limit = std::chrono::seconds(protocol::transfer_seconds) - limit_slack;

}  // namespace

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
    if (payload_got_ == put_len_ && tokens_done_ == wire::chunks_for(put_len_)) return "before FIN";
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
                                         counted(static_cast<long long>(held), "byte") + ")"};
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
        missing = "the terminal's next " + counted(static_cast<long long>(held), "byte") +
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
