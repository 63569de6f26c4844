// The proxy's messages on standard error ("ifc-proxy: ..."), which never hold it up: a reader
// that stops reading costs lines (dropped and counted), never the relay or a stop.
#pragma once

#include <chrono>
#include <cstdint>
#include <string_view>

#include "proxy/program/line_output.h"

class diagnostics {
  public:
    // Standard error, or fd (a test's).
    explicit diagnostics(int fd = 2);

    // One line: "ifc-proxy: " and message.
    void say(std::string_view message);
    // Writes what waits until deadline; the lines never written.
    std::uint64_t finish(std::chrono::steady_clock::time_point deadline);

  private:
    line_output out_;
};
