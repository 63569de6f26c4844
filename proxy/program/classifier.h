// What the bytes of a relayed connection are, and what happens to them: the tracker says what
// each side sent, the rules are decided on each request, the faults of the request at hand act
// on its bytes, and bytes and markers go into the directions' queues in order. The session
// reads and writes the sockets and releases the queues.
#pragma once

#include <optional>
#include <string_view>
#include <vector>

#include "proxy/faults/request_faults.h"
#include "proxy/journal.h"
#include "proxy/program/relay_direction.h"
#include "proxy/program/services.h"
#include "proxy/tracker.h"

class classifier {
  public:
    // frozen_until: the end of a stall in force, which holds both directions.
    classifier(const session_services& services, const proxy::connection_label& label,
               proxy::tracker& tracker, relay_direction& up, relay_direction& down,
               const proxy::time_point& frozen_until);

    // Classifies what waits in the inbox of d (one of the two directions) into the queues, and
    // queues its end once its source has ended; true when something moved.
    bool classify(relay_direction& d, proxy::time_point now);
    // The marker that writes a request's journal line once its last bytes have gone out.
    relay_item finish_item(proxy::request_record record);
    // When the start of a header held back for a rule decided at the header goes on as it
    // came; none while no header is held.
    std::optional<proxy::time_point> header_deadline() const;

  private:
    class decision;
    class run;

    bool hold_header(proxy::time_point now);
    std::vector<relay_item> decide(proxy::time_point now, bool& drop_header);
    void enqueue_fragment(relay_direction& d, const proxy::fragment& f, std::string_view bytes,
                          bool drop_header, std::vector<proxy::request_record>& done,
                          proxy::time_point now);
    void enqueue(relay_direction& d, relay_item it, proxy::time_point now);
    void enqueue_finished(relay_direction& d, std::vector<proxy::request_record>& done,
                          proxy::time_point now);
    bool frozen(proxy::time_point now) const { return now < frozen_until_; }

    const session_services& services_;
    const proxy::connection_label& label_;
    proxy::tracker& tracker_;
    relay_direction& up_;
    relay_direction& down_;
    const proxy::time_point& frozen_until_;
    std::vector<proxy::fragment> fragments_;

    // The request at hand: its faults and where its answer stands.
    proxy::request_faults faults_;
    bool answer_started_ = false;
    bool throttled_ = false;
    std::size_t header_bytes_queued_ = 0;
    std::optional<proxy::time_point> header_hold_since_;
};
