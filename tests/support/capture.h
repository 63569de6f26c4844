// Captures what a piece of code writes to standard output or standard error.
#pragma once

#include <cstdio>
#include <functional>
#include <string>

#include "tests/support/files.h"

namespace test_support {

// The stream's descriptor points at a temporary file from construction to destruction. The
// stream and the server's diagnostics (which have a buffer of their own in front of the
// descriptor) are flushed at each end and before each look at what was written.
class stream_capture {
  public:
    explicit stream_capture(std::FILE* stream = stdout);
    ~stream_capture();
    stream_capture(const stream_capture&) = delete;
    stream_capture& operator=(const stream_capture&) = delete;

    // What was written since the previous call (or since the start); the stream is flushed.
    std::string fresh();

  private:
    std::FILE* stream_;
    temp_dir dir_;
    std::string path_;
    int saved_ = -1;
    std::size_t seen_ = 0;
};

// Runs body with the stream captured; returns the bytes written.
std::string capture_stream(std::FILE* stream, const std::function<void()>& body);
inline std::string capture_stdout(const std::function<void()>& body) {
    return capture_stream(stdout, body);
}
inline std::string capture_stderr(const std::function<void()>& body) {
    return capture_stream(stderr, body);
}

}  // namespace test_support
