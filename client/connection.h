// A connection to the server and the four exchanges of its protocol: GET, PUT, PING and
// DISCONNECT. Every wait is bounded by the connection's time-out, and every exchange as a whole
// by its deadline; tokens are read by exact byte counts, so it does not matter how the stream
// splits or merges them.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "client/result.h"
#include "client/unique_fd.h"
#include "protocol/protocol.h"

namespace ifc_client {

struct endpoint {
    std::string host = "127.0.0.1";
    std::uint16_t port = protocol::server_port;
    // The longest wait for the next bytes (and for the connection to be set up).
    std::chrono::milliseconds timeout{protocol::wait_seconds * 1000};
    // The longest one exchange (a GET with its answer, a PUT with its payload and "FIN") may
    // take in all, however the bytes trickle in; never shorter than timeout. A healthy server
    // finishes a transfer within its own 10-second limit. A connection that waits in the
    // server's queue starts its first exchange's deadline once the server answers.
    std::chrono::milliseconds deadline{protocol::transfer_seconds * 1000};
    // The server serves one client at a time; a connection made meanwhile waits in its queue,
    // unanswered, until the server takes it. The first answer on a connection may therefore
    // take queue_wait (when that is longer than timeout); on_queued is called once when it is
    // late, to tell the operator, with the longest it will be waited for in all (the longer of
    // queue_wait and timeout). A server that does not answer at all looks the same from here.
    std::chrono::milliseconds queue_wait{0};
    std::function<void(std::chrono::milliseconds patience)> on_queued{};
    // No wait lasts past this moment, whatever is left of an exchange's deadline (errc::timeout):
    // a session of several exchanges with one time limit of its own. connection::limit_to moves
    // it on an open connection.
    std::chrono::steady_clock::time_point give_up = std::chrono::steady_clock::time_point::max();
    // A descriptor that, once readable, ends every wait at once (errc::io, "cancelled"): how a
    // program that is stopping takes its connections back from a slow server. -1: none.
    int cancel_fd = -1;
};

class connection {
  public:
    static result<connection> open(const endpoint& where);

    // The answer text of a read command.
    result<std::string> get(std::string_view name);
    // Runs a write command with its argument; the server reports nothing of its outcome.
    status put(std::string_view name, std::string_view argument);
    // Sends a payload as it is (a name, a NUL and an argument, or anything else).
    status put_payload(std::string_view payload);
    status ping();
    // Ends the connection politely; the connection is closed afterwards in any case.
    status disconnect();
    // Sends DISCONNECT and waits for the server to close its end: proof that it has read
    // everything sent before. The connection is closed afterwards in any case.
    status disconnect_and_wait();

    bool is_open() const { return static_cast<bool>(fd_); }
    // The address and port the connection reached, "10.0.0.7:9002"; "" once it is closed.
    std::string peer_address() const;
    // From now on no wait lasts past end (see endpoint::give_up).
    void limit_to(std::chrono::steady_clock::time_point end) { give_up_ = end; }

    // Byte-level access for tools and tests that speak to the server below the exchanges.
    status send_bytes(std::string_view bytes);
    result<std::string> recv_bytes(std::size_t count);
    // true when the server has closed its end (reads end of stream) within wait.
    bool server_closed(std::chrono::milliseconds wait);
    // Bytes that arrive within wait, at most max (empty when none).
    std::string recv_available(std::chrono::milliseconds wait, std::size_t max = 65536);
    // Ends the sending direction only: the server reads end of stream, answers still arrive.
    void close_sending();
    // Closes without a word (an orderly end of stream for the server).
    void close();
    // Closes with a reset, as a client that crashed or was cut off.
    void abort();

  private:
    using clock = std::chrono::steady_clock;
    class exchange_scope;

    connection(unique_fd fd, const endpoint& where)
        : fd_(std::move(fd)),
          timeout_(where.timeout),
          deadline_(std::max(where.deadline, where.timeout)),
          queue_wait_(where.queue_wait),
          on_queued_(where.on_queued),
          give_up_(where.give_up),
          cancel_fd_(where.cancel_fd) {}
    // Closes the connection after a failure: the stream is at an unknown place.
    error fail(errc code, std::string detail);
    status expect_token(std::string_view token);
    // Waits for the first bytes (or the end) of the server's first answer on this connection,
    // which a queued connection gets only once the server takes it.
    status await_first_answer();
    // Within an exchange: waits until the socket is ready for events, at most the time-out and
    // what is left of the exchange's deadline (errc::timeout, naming the missing bytes, 0 when
    // sending, or the deadline). Outside the exchanges: done at once.
    status wait_ready(short events, std::size_t missing);

    unique_fd fd_;
    std::chrono::milliseconds timeout_;
    std::chrono::milliseconds deadline_;
    std::chrono::milliseconds queue_wait_;
    std::function<void(std::chrono::milliseconds)> on_queued_;
    clock::time_point give_up_;
    int cancel_fd_ = -1;
    bool answered_ = false;
    // The end of the exchange under way; none outside the exchanges (byte-level access).
    std::optional<clock::time_point> exchange_end_;
};

}  // namespace ifc_client
