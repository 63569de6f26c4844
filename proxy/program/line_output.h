// Lines for a reader that may stall, vanish or run out of room (the journal, standard error),
// written so that none of it ever holds up the proxy: put() only queues a line in a bounded
// buffer, and a thread of the output's own writes it.
//
// - When the buffer is full, lines are dropped and counted; once there is room again a notice
//   ("N journal lines dropped") goes in first, where the gap is.
// - A line is written whole or not at all. On a regular file, a failed or short write is cut
//   back to the last whole line and the line is tried again later (it waits in the buffer; a
//   full disk costs only the lines that find the buffer full). A pipe or a terminal gets only
//   what it takes without waiting (poll, then at most PIPE_BUF), a socket is written with
//   MSG_DONTWAIT; O_NONBLOCK is never set on a descriptor the proxy did not open, since it
//   belongs to the open file description that a shell may share.
// - A write error is said once (through report) and again when writing works again; a reader
//   that is gone (EPIPE) ends the writing, and every later line is dropped and counted.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>

class line_output {
  public:
    struct settings {
        int fd = -1;
        bool owned = false;  // closed when the output is done with it
        std::string name;    // in messages: "journal session.jsonl", "standard error"
        std::size_t capacity = 0;
        // The file ends in a line without its end (a run that was killed mid-line): a line end
        // goes before the first line, so that it starts whole.
        bool ends_mid_line = false;
        // The line that says count lines were dropped, without its line end.
        std::function<std::string(std::uint64_t count)> dropped_notice;
        // Says a message about the output (a write error, writing again); may be empty.
        std::function<void(const std::string&)> report;
    };

    explicit line_output(settings s);
    // Finishes with a short deadline when finish() was not called.
    ~line_output();
    line_output(const line_output&) = delete;
    line_output& operator=(const line_output&) = delete;

    // Queues line (without its line end); false when it was dropped. Never waits for the
    // reader, only for the buffer's lock.
    bool put(std::string line);

    // Takes no more lines and writes what waits until deadline, then gives up. The count of
    // lines never written: dropped along the way, or still waiting at the deadline.
    std::uint64_t finish(std::chrono::steady_clock::time_point deadline);

  private:
    struct state;
    static void write_all(const std::shared_ptr<state>& s);

    std::shared_ptr<state> state_;
    std::thread writer_;
    bool finished_ = false;
};
