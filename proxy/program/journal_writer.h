// The journal as the proxy writes it: a file (appended) or standard output ("-"), one JSON
// line per event, put out by a line_output so that a reader that stalls, a full disk or a
// vanished reader never holds up a relay or a stop. Lines that cannot wait are dropped and
// counted, and a "dropped" line says how many where the gap is.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "proxy/journal_line.h"
#include "proxy/program/diagnostics.h"
#include "proxy/program/line_output.h"

namespace proxy {

class journal_writer {
  public:
    journal_writer() = default;  // writes nothing
    // Opens path ("-": standard output); on failure error() says why. Write errors are said
    // through diag.
    journal_writer(const std::string& path, diagnostics& diag);

    bool enabled() const { return out_ != nullptr; }
    const std::string& error() const { return error_; }
    // Puts the wall-clock time first and queues the line; from any thread, never waiting for
    // the reader.
    void write(const journal_line& line);
    // Writes what waits until deadline; the lines never written in the whole run.
    std::uint64_t finish(std::chrono::steady_clock::time_point deadline);

  private:
    std::unique_ptr<line_output> out_;
    std::string error_;
};

}  // namespace proxy
