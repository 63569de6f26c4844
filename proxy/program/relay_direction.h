// One direction of a relayed connection: terminal to controller, or back. Its bytes move
// through three stages: the inbox (read, not yet classified: the tracker may hold them until
// the other side has caught up), the queue (classified, waiting for release: a delay, a stall
// or a throttle may hold them, and markers in it cut the connection or finish a request's
// journal line when they are reached), and the outbox (released, being written). With no rules
// the queue stays empty and bytes go from the inbox straight to the outbox.
//
// A request's journal line is due once its last bytes have been written: its marker waits
// beside the outbox (finishing) with the outbox's count at its place, so that the bytes after
// it join the same write, as they would have reached the controller in one piece.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "proxy/exchange.h"
#include "proxy/faults/fault.h"

// An entry of a direction's queue: bytes, or a marker that acts once it is reached.
enum class item_type { bytes, hold, freeze, cut, rate, finish, end };

struct relay_item {
    item_type type = item_type::bytes;
    std::string bytes;
    bool answer_start = false;     // bytes: the controller's first for the request at hand
    int seq = 0;                   // bytes with answer_start: that request
    double seconds = 0;            // hold, freeze
    bool reset = false;            // cut, end
    double rate = 0;               // rate: bytes per second; 0 ends a throttle
    std::string detail;            // cut: where, for the record and the close line
    proxy::request_record record;  // finish
    std::vector<proxy::fault_report> faults;  // finish
};

// A request's journal line whose last bytes wait in the outbox.
struct finishing_record {
    relay_item finish;
    std::uint64_t mark = 0;  // due once this many bytes of the outbox have gone
};

struct relay_direction {
    proxy::side from = proxy::side::terminal;
    std::string inbox;
    std::deque<relay_item> queue;
    std::string outbox;
    std::size_t written = 0;           // bytes of the outbox already written
    std::uint64_t appended_total = 0;  // bytes ever put in the outbox
    std::uint64_t written_total = 0;   // of those, written (or dropped with a gone destination)
    std::deque<finishing_record> finishing;
    bool source_ended = false;
    bool reset = false;  // the source ended with a reset
    bool end_queued = false;
    bool finished = false;  // the end of stream has been passed on
    bool broken = false;    // the destination is gone: nothing more is written
    proxy::time_point hold_until{};
    double rate = 0;  // bytes per second; 0: no limit
    proxy::time_point rate_since{};
    std::uint64_t rate_sent = 0;
    std::uint64_t bytes_read = 0;
    std::size_t queued_bytes = 0;  // bytes in the queue
    // The memory of the queue's and finishing's entries besides their bytes (a request's
    // record, a marker): counted with the bytes that wait, so that many small requests are
    // bounded as a few big ones are.
    std::size_t bookkeeping = 0;
    // When the first answer byte of a request was released (controller to terminal).
    int first_byte_seq = 0;
    proxy::time_point first_byte_at{};

    // Bytes not yet written: read ahead of the destination.
    std::size_t waiting() const;
    // Puts released bytes in the outbox.
    void append_out(std::string_view bytes);
    // What an entry of the queue costs besides its bytes.
    static std::size_t overhead(const relay_item& it);
    // Takes the front of the queue.
    relay_item pop_front();
    // Keeps a finish marker until the bytes before it have been written.
    void hold_finish(relay_item finish);
    // The finish markers whose bytes have all gone (all of them once the destination is gone).
    std::vector<relay_item> take_due();
    // The outbox has bytes left for a destination that is there.
    bool outbox_busy() const { return !broken && written < outbox.size(); }
    // Notes when the first byte of a request's answer was released.
    void note_answer_start(int seq, proxy::time_point now);
    // Puts the item at the end of the queue; bytes that nothing waits before and nothing holds
    // (frozen: a stall holds both directions) go to the outbox at once.
    void enqueue(relay_item it, proxy::time_point now, bool frozen);
    // How many bytes may be written now: all of the outbox, or what a throttle allows.
    std::size_t write_budget(proxy::time_point now) const;
    // Bytes wait in the outbox for a destination that is there, and the rate allows some now.
    bool can_write(proxy::time_point now) const;
    // Writes what it may of the outbox to fd; true when something happened (bytes went out, or
    // the destination turned out gone, and what was left for it is dropped).
    bool flush(int fd, proxy::time_point now);
    // When a throttle that holds the outbox back now lets the next byte go.
    std::optional<proxy::time_point> rate_wake(proxy::time_point now) const;
};
