#include "tests/support/capture.h"

#include <fcntl.h>
#include <unistd.h>

#include <stdexcept>

#include "lib/diag.h"

namespace test_support {

namespace {

void flush(std::FILE* stream) {
    diag::flush_out();
    std::fflush(stream);
}

}  // namespace

stream_capture::stream_capture(std::FILE* stream) : stream_(stream), path_(dir_.file("captured")) {
    const int target = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (target < 0) throw std::runtime_error("cannot open capture file");
    const int fd = ::fileno(stream_);
    flush(stream_);
    saved_ = ::dup(fd);
    ::dup2(target, fd);
    ::close(target);
}

stream_capture::~stream_capture() {
    flush(stream_);
    ::dup2(saved_, ::fileno(stream_));
    ::close(saved_);
}

std::string stream_capture::fresh() {
    flush(stream_);
    const std::string all = read_file(path_).value_or("");
    std::string news = all.substr(seen_);
    seen_ = all.size();
    return news;
}

std::string capture_stream(std::FILE* stream, const std::function<void()>& body) {
    stream_capture capture(stream);
    body();
    return capture.fresh();
}

}  // namespace test_support
