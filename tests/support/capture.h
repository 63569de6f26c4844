// Captures what a piece of code writes to standard output or standard error.
#pragma once

#include <cstdio>
#include <functional>
#include <string>

namespace test_support {

// Runs body with the stream's descriptor redirected to a temporary file; returns the bytes
// written (the stream and the server's diagnostics are flushed before and after).
std::string capture_stream(std::FILE* stream, const std::function<void()>& body);
inline std::string capture_stdout(const std::function<void()>& body) {
    return capture_stream(stdout, body);
}
inline std::string capture_stderr(const std::function<void()>& body) {
    return capture_stream(stderr, body);
}

}  // namespace test_support
