// One terminal connection of the proxy and the controller connection opened for it, relayed
// both ways by one thread. Bytes pass unchanged and at once unless a fault rule acts on them;
// the tracker says what they are, the journal gets a line per request.
//
// Each direction moves bytes through three stages: the inbox (read, not yet classified: the
// tracker may hold them until the other side has caught up), the queue (classified, waiting
// for release: a delay, a stall or a throttle may hold them, and markers in it cut the
// connection or finish a request's journal line when they are reached), and the outbox
// (released, being written). With no rules the queue stays empty and bytes go from the inbox
// straight to the outbox.
#pragma once

#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "proxy/journal.h"
#include "proxy/program/services.h"
#include "proxy/tracker.h"

class session {
  public:
    session(const session_services& services, int terminal_fd, std::string terminal,
            long long conn);
    ~session();
    session(const session&) = delete;
    session& operator=(const session&) = delete;

    // Relays until both sides are done, then writes the close line.
    void run();

  private:
    enum class item_type { bytes, hold, freeze, cut, rate, finish, end };

    struct item {
        item_type type = item_type::bytes;
        std::string bytes;
        bool answer_start = false;     // bytes: the controller's first for the request at hand
        int seq = 0;                   // bytes with answer_start: that request
        double seconds = 0;            // hold, freeze
        bool reset = false;            // cut
        double rate = 0;               // rate: bytes per second; 0 ends a throttle
        std::string detail;            // cut: where, for the record and the close line
        proxy::request_record record;  // finish
        std::vector<proxy::fault_report> faults;  // finish
    };

    struct direction {
        proxy::side from = proxy::side::terminal;
        std::string inbox;
        std::deque<item> queue;
        std::string outbox;
        std::size_t written = 0;  // bytes of the outbox already written
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
    };

    struct active_fault {
        proxy::planned_fault plan;
        proxy::fault_report report;
        std::optional<long long> position;  // corrupt: the byte to change, once known
        bool resolved = false;              // applied, or its point passed: it acts no more
    };

    // One round of work after a wake-up: classify, release, write, until nothing moves.
    void pump(proxy::time_point now);
    bool classify(direction& d, proxy::time_point now);
    bool hold_header(proxy::time_point now);
    std::vector<item> decide(proxy::time_point now, bool& drop_header);
    void enqueue_fragment(direction& d, const proxy::fragment& f, std::string_view bytes,
                          bool drop_header, std::vector<proxy::request_record>& done,
                          proxy::time_point now);
    void enqueue(direction& d, item it, proxy::time_point now);
    void enqueue_finished(direction& d, std::vector<proxy::request_record>& done,
                          proxy::time_point now);
    item finish_item(proxy::request_record record);
    bool release(direction& d, proxy::time_point now);
    bool flush(direction& d, proxy::time_point now);
    void pass_end(direction& d, proxy::time_point now);
    void read_side(direction& d, int fd);
    void unreachable(const std::string& error);
    void cut(bool reset, const std::string& detail, proxy::time_point now);
    void stop(const std::string& reason, proxy::time_point now);
    void write_record(item finish, proxy::time_point released);
    // Writes the lines of the requests whose finish markers wait in the queues; with a
    // cut_detail, as cut there.
    void write_queued_records(proxy::time_point now, const std::string& cut_detail = "");
    // The close line (once), after the lines of the requests still waiting in the queues.
    void write_close_line(proxy::time_point now);
    // Bytes of the direction not yet written: read ahead of the destination.
    std::size_t waiting(const direction& d) const;
    bool frozen(proxy::time_point now) const { return now < frozen_until_; }
    bool done() const;
    int poll_timeout(proxy::time_point now) const;
    // The front of the direction's queue can be released now.
    bool releasable(const direction& d, proxy::time_point now) const;
    bool may_write(const direction& d, proxy::time_point now) const;
    std::size_t write_budget(const direction& d, proxy::time_point now) const;
    void close_fds();

    const session_services services_;
    int terminal_fd_;
    int controller_fd_ = -1;
    bool connected_ = false;
    proxy::journal_writer& journal_;
    proxy::connection_label label_;
    proxy::time_point opened_;
    proxy::tracker tracker_;
    direction up_;    // terminal to controller
    direction down_;  // controller to terminal
    proxy::time_point frozen_until_{};
    std::vector<proxy::fragment> fragments_;
    std::vector<char> read_buffer_;

    // The request at hand: its faults and where its answer stands.
    int request_seq_ = 0;
    std::vector<active_fault> faults_;
    bool answer_started_ = false;
    bool throttled_ = false;
    std::size_t header_bytes_queued_ = 0;
    std::optional<proxy::time_point> header_hold_since_;
    // When the first answer byte of a request was released to the terminal.
    int first_byte_seq_ = 0;
    proxy::time_point first_byte_at_{};

    int requests_written_ = 0;
    bool over_ = false;  // cut, stopped or never connected: the close line says why
    bool close_written_ = false;
    std::optional<proxy::connection_end> own_end_;
};
