#include "tests/support/capture.h"

#include <fcntl.h>
#include <unistd.h>

#include <stdexcept>

#include "lib/diag.h"
#include "tests/support/files.h"

namespace test_support {

std::string capture_stream(std::FILE* stream, const std::function<void()>& body) {
    temp_dir dir;
    const std::string path = dir.file("captured");
    const int target = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (target < 0) throw std::runtime_error("cannot open capture file");
    const int fd = ::fileno(stream);
    // The server's diagnostics go through their own buffer in front of the descriptor.
    diag::flush_out();
    std::fflush(stream);
    const int saved = ::dup(fd);
    ::dup2(target, fd);
    ::close(target);
    body();
    diag::flush_out();
    std::fflush(stream);
    ::dup2(saved, fd);
    ::close(saved);
    return read_file(path).value_or("");
}

}  // namespace test_support
