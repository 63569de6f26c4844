#include "proxy/program/journal_writer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "proxy/journal.h"
#include "proxy/program/defaults.h"

namespace proxy {

namespace {

// Whether the regular file at fd ends in a line without its line end.
bool ends_mid_line(int fd) {
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size == 0) return false;
    char last = '\n';
    return ::pread(fd, &last, 1, st.st_size - 1) == 1 && last != '\n';
}

}  // namespace

journal_writer::journal_writer(const std::string& path, diagnostics& diag) {
    line_output::settings s;
    if (path == "-") {
        if (::fcntl(STDOUT_FILENO, F_GETFL) < 0) {
            error_ = "standard output is closed";
            return;
        }
        s.fd = STDOUT_FILENO;
        s.name = "journal on standard output";
    } else {
        s.fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY, 0644);
        if (s.fd < 0) {
            error_ = path + ": " + std::strerror(errno);
            return;
        }
        s.owned = true;
        s.name = "journal " + path;
        s.ends_mid_line = ends_mid_line(s.fd);
    }
    s.capacity = proxy_defaults::journal_buffer;
    s.dropped_notice = [](std::uint64_t count) { return journal_text(dropped_line(count)); };
    s.report = [&diag](const std::string& message) { diag.say(message); };
    out_ = std::make_unique<line_output>(std::move(s));
}

void journal_writer::write(const journal_line& line) {
    if (out_) out_->put(journal_text(line));
}

std::uint64_t journal_writer::finish(std::chrono::steady_clock::time_point deadline) {
    return out_ ? out_->finish(deadline) : 0;
}

}  // namespace proxy
