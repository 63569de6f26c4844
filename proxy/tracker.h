// Follows the request protocol on one relayed connection, fed the bytes of either side as they
// arrive; no I/O. It tells the relay what each run of bytes is (header, NEXT, LEN, answer
// chunk, payload chunk, FIN, ERR!), where a request becomes known so that fault rules can be
// decided on it, and which bytes must wait because they belong to a step the other side has
// not reached yet. It produces one record per request and says who ended the connection.
//
// It never loses track silently: bytes it cannot follow end the current request as a protocol
// violation (by the terminal or by the controller, with what was sent), and from then on every
// byte is classified as untracked, to be relayed as it is.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "proxy/exchange.h"

namespace proxy {

// What a run of bytes is.
enum class piece : std::uint8_t {
    header,     // terminal: request header bytes
    next,       // "NEXT": from the terminal during a GET, from the controller during a PUT
    len,        // controller: the length header of a GET answer
    answer,     // controller: GET answer bytes
    payload,    // terminal: PUT payload bytes
    fin,        // controller: "FIN"
    err,        // controller: "ERR!"
    untracked,  // after a violation or the expected end: relayed as they are
};

struct fragment {
    piece what = piece::untracked;
    std::size_t size = 0;
    // answer, payload: the 1-based chunk the bytes belong to; next: the 1-based token number.
    int index = 0;
    // answer, payload: the position of the first byte in the whole answer or payload.
    std::size_t offset = 0;
    bool starts = false;        // the fragment's first byte begins its header, token or chunk
    bool completes = false;     // its last byte ends it
    bool ends_request = false;  // with it a request is over (its record is finished)
    long long length = 0;       // a complete length header: the announced length
};

// Why feed stopped.
enum class stop : std::uint8_t {
    all,       // every byte was classified
    held,      // the rest belongs to a later step that the other side must reach first
    decision,  // a request became known: decide on it, then feed the rest
};

struct feed_result {
    std::size_t consumed = 0;
    stop why = stop::all;
};

// The two moments at which fault rules are decided on a request: when its header is complete
// and, for a PUT, when the command name at the start of its payload is known.
enum class decision_point : std::uint8_t { header, command };

struct pending_request {
    int seq = 0;
    request_kind kind = request_kind::unknown;
    decision_point point = decision_point::header;
    // The command is known at this decision, and at no earlier one of the request: true for
    // every header but that of a PUT whose payload is still to come.
    bool command_known = false;
    std::string_view command;
    long long length = 0;  // PUT: the header's length
};

class tracker {
  public:
    // text_limit: how many bytes of an answer or argument the records keep.
    tracker(std::size_t text_limit, time_point opened);

    // Classifies a prefix of bytes, which arrived from one side, into out (appended).
    feed_result feed(side from, std::string_view bytes, time_point now, std::vector<fragment>& out);

    // After feed stopped at a decision: the request to decide on.
    pending_request pending() const;
    // At a PUT's header decision: the proxy answers "ERR!" in place of the controller, and
    // the header is not relayed; the request is over, the next header follows.
    void answer_err(time_point now, std::string detail);
    // The request at hand, for details a fault needs (the announced answer length).
    const request_record& current() const { return current_; }
    bool in_request() const;

    // The side ended its stream: in order (end of stream) or by a reset. held: terminal bytes
    // classified but not yet passed to the controller (a fault holds them), when it ends.
    void end(side s, bool reset, time_point now, std::size_t held = 0);
    // The proxy cut the connection (a fault rule); detail says where.
    void cut(time_point now, std::string detail);

    // The records of the requests that are over, in order; the call empties the list.
    std::vector<request_record> take_finished();
    // Who ended the connection; complete once both sides have ended or the proxy cut it.
    connection_end ending() const { return ending_; }
    bool following() const { return phase_ != phase::untracked && phase_ != phase::over; }
    // Why the tracker no longer follows the exchange: the violation, with the side that did
    // it; empty while it follows or after the connection ended in order.
    const std::string& lost_track() const { return lost_track_; }
    // Between requests, and no byte of the next header has come yet.
    bool awaiting_header() const { return phase_ == phase::between && header_.empty(); }

  private:
    enum class phase : std::uint8_t { between, get, put, closing, untracked, over };

    std::size_t take_terminal(std::string_view bytes, time_point now, std::vector<fragment>& out,
                              stop& why);
    std::size_t take_controller(std::string_view bytes, time_point now, std::vector<fragment>& out);
    std::size_t take_header(std::string_view bytes, time_point now, std::vector<fragment>& out,
                            stop& why);
    std::size_t take_next(std::string_view bytes, time_point now, std::vector<fragment>& out);
    std::size_t take_payload(std::string_view bytes, std::vector<fragment>& out, stop& why);
    std::size_t take_len(std::string_view bytes, time_point now, std::vector<fragment>& out);
    std::size_t take_answer(std::string_view bytes, time_point now, std::vector<fragment>& out);
    std::size_t take_put_token(std::string_view bytes, time_point now, std::vector<fragment>& out);

    void start_request(time_point now);
    void finish(outcome result, time_point now, std::string detail = {});
    void violation(side by, std::string detail, time_point now);
    void keep_text(std::string_view bytes);
    // Why the controller's close ended the request at hand.
    void classify_controller_close(bool reset, time_point now, std::size_t held);
    // The terminal's bytes the controller waits for, described; empty when it waits for none.
    std::string missing_terminal_step() const;
    // How far the request at hand got, described.
    std::string where_in_request() const;
    std::string diagnose_unknown_header() const;
    void mark_decision(decision_point point);
    // A run of fixed size (a request header, NEXT, a length header, FIN, ERR!) may arrive in
    // pieces: takes what belongs to it from the front of bytes into so_far, counts it as the
    // side's and puts its fragment in out. The fragment says whether the bytes began the run
    // and whether they completed it.
    fragment take_fixed(std::string& so_far, std::size_t size, piece what, std::string_view bytes,
                        side from, std::vector<fragment>& out, int index = 0);

    std::size_t text_limit_;
    // The fragments of the feed in progress, so that finish can mark the last one.
    std::vector<fragment>* out_ = nullptr;
    phase phase_ = phase::between;
    int seq_ = 0;
    request_record current_;
    std::vector<request_record> finished_;
    connection_end ending_;
    bool terminal_ended_ = false;
    bool controller_ended_ = false;
    // A violation outside any request, for the report of the close.
    std::string stray_;
    // The side that violated the protocol, if one did, and the whole account.
    std::string violated_by_;
    std::string lost_track_;
    // What made the controller's close expected: "DISCONNECT" or "LEN-000000001".
    std::string closing_reason_;
    // The request before the current one: what a misplaced header follows.
    request_kind previous_kind_ = request_kind::unknown;
    long long previous_length_ = 0;
    time_point last_terminal_byte_;  // or the end of the last exchange, whichever is later

    // The header in progress.
    std::string header_;
    // The request of the last decision; a PING's record is finished before it is decided on.
    pending_request pending_;
    std::string pending_command_;

    // GET: the length header, the answer's length, the terminal's NEXTs, the answer bytes.
    std::string len_text_;
    long long answer_len_ = 0;
    bool len_known_ = false;
    int nexts_needed_ = 0;
    int nexts_done_ = 0;
    std::string next_slot_;
    long long answer_got_ = 0;
    time_point transfer_started_;

    // PUT: the header's length, the payload so far, the command name, the controller's tokens.
    long long put_len_ = 0;
    bool put_refused_ = false;  // the length is out of range: "ERR!" is the whole answer
    long long payload_got_ = 0;
    bool name_done_ = false;
    bool nul_seen_ = false;
    std::string token_;
    int tokens_done_ = 0;
};

}  // namespace proxy
