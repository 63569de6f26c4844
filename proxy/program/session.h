// One terminal connection of the proxy and the controller connection opened for it, relayed
// both ways by one thread. Bytes pass unchanged and at once unless a fault rule acts on them;
// the tracker says what they are, the journal gets a line per request.
//
// The session reads and writes the sockets and releases each direction's queue
// (relay_direction.h), carrying out its markers: a hold, a stall, a throttle's rate, a cut,
// the journal line of a request that is over, the end of a stream. The classifier fills the
// queues.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "proxy/journal.h"
#include "proxy/program/classifier.h"
#include "proxy/program/relay_direction.h"
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
    // run(), and on a failure of the proxy's own (no memory, say), both connections reset and
    // the close line saying so: no exception leaves a relaying thread.
    void run_guarded() noexcept;
    // Gives the terminal's descriptor back to the caller, for a session that never runs.
    int release_terminal();

  private:
    // One round of work after a wake-up: classify, release, write, until nothing moves.
    void pump(proxy::time_point now);
    bool classify(relay_direction& d, proxy::time_point now);
    bool release(relay_direction& d, proxy::time_point now);
    bool flush(relay_direction& d, proxy::time_point now);
    void pass_end(relay_direction& d, proxy::time_point now);
    // The side's connection turned out reset (an error on it, or a write it refused).
    void peer_reset(proxy::side who, proxy::time_point now);
    void write_due_records(relay_direction& d, proxy::time_point now);
    void read_side(relay_direction& d, int fd);
    void unreachable(const std::string& error);
    void cut(bool reset, const std::string& detail, proxy::time_point now);
    void stop(const std::string& reason, proxy::time_point now);
    void write_record(relay_item finish, proxy::time_point released);
    // Writes the lines of the requests whose finish markers wait in the queues; with a
    // cut_detail, as cut there.
    void write_queued_records(proxy::time_point now, const std::string& cut_detail = "");
    // The close line (once), after the lines of the requests still waiting in the queues.
    void write_close_line(proxy::time_point now);
    bool frozen(proxy::time_point now) const { return now < frozen_until_; }
    bool done() const;
    int poll_timeout(proxy::time_point now) const;
    // The front of the direction's queue can be released now.
    bool releasable(const relay_direction& d, proxy::time_point now) const;
    bool may_write(const relay_direction& d, proxy::time_point now) const;
    void close_fds();
    void abandon(const std::string& why) noexcept;

    const session_services services_;
    int terminal_fd_;
    int controller_fd_ = -1;
    bool connected_ = false;
    proxy::journal_writer& journal_;
    proxy::connection_label label_;
    proxy::time_point opened_;
    proxy::tracker tracker_;
    relay_direction up_;    // terminal to controller
    relay_direction down_;  // controller to terminal
    proxy::time_point frozen_until_{};
    classifier classifier_;
    std::vector<char> read_buffer_;

    int requests_written_ = 0;
    bool over_ = false;  // cut, stopped or never connected: the close line says why
    bool close_written_ = false;
    std::optional<proxy::connection_end> own_end_;
    // After the controller's end of stream: when the session ends unless the terminal sends.
    std::optional<proxy::time_point> half_closed_until_;
};
