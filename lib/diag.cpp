#include "lib/diag.h"

#include <limits.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace diag {

namespace {

constexpr std::size_t capacity = 64 * 1024;
// Standard output is handed on in pieces of about this size when nobody flushes, as the
// buffer of stdio would.
constexpr std::size_t stdio_buffer = 4096;
// At most this much is written to a terminal after poll() said it is writable.
constexpr std::size_t terminal_piece = 256;
// A line longer than the whole buffer is written straight on; its reader gets this long to
// take it before the rest of it is dropped.
constexpr int long_line_ms = 100;

enum class buffering { full, none };

// Where a descriptor stands, looked at before every write: a test or a supervisor may swap
// what is behind it.
enum class fd_kind { regular, socket, pipe, terminal, device, broken };

struct stream {
    int fd;
    buffering mode;
    char ring[capacity];
    std::size_t start = 0;     // first byte held
    std::size_t size = 0;      // bytes held
    std::size_t released = 0;  // the first bytes held that may be written now
    unsigned long dropped = 0;
    bool terminal = false;  // as found at the last write: shown line by line

    std::size_t room() const { return capacity - size; }
};

stream out_stream{STDOUT_FILENO, buffering::full, {}};
stream err_stream{STDERR_FILENO, buffering::none, {}};

fd_kind kind_of(int fd) {
    struct stat st {};
    if (::fstat(fd, &st) != 0) return fd_kind::broken;
    if (S_ISREG(st.st_mode)) return fd_kind::regular;
    if (S_ISSOCK(st.st_mode)) return fd_kind::socket;
    if (S_ISFIFO(st.st_mode)) return fd_kind::pipe;
    if (S_ISCHR(st.st_mode)) return ::isatty(fd) ? fd_kind::terminal : fd_kind::device;
    return fd_kind::device;
}

// 1 when fd takes bytes now, 0 when it does not, -1 when its reader is gone.
int writable_now(int fd) {
    pollfd pfd{fd, POLLOUT, 0};
    if (::poll(&pfd, 1, 0) <= 0) return 0;
    if ((pfd.revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) return -1;
    return (pfd.revents & POLLOUT) != 0 ? 1 : 0;
}

// Writes from bytes what fd takes without waiting: the count, 0 when it takes nothing now,
// -1 when the output is closed or broken.
ssize_t write_some(int fd, fd_kind kind, const char* bytes, std::size_t len) {
    if (kind == fd_kind::broken) return -1;
    ssize_t n = 0;
    do {
        switch (kind) {
            case fd_kind::regular:
                n = ::write(fd, bytes, len);
                break;
            case fd_kind::socket:
                n = ::send(fd, bytes, len, MSG_DONTWAIT | MSG_NOSIGNAL);
                break;
            default: {
                const int writable = writable_now(fd);
                if (writable <= 0) return writable;
                const std::size_t piece = kind == fd_kind::pipe       ? PIPE_BUF
                                          : kind == fd_kind::terminal ? terminal_piece
                                                                      : len;
                n = ::write(fd, bytes, std::min(len, piece));
                break;
            }
        }
    } while (n < 0 && errno == EINTR);
    if (n >= 0) return n;
    return errno == EAGAIN || errno == EWOULDBLOCK ? 0 : -1;
}

// The output is closed or broken: nobody can read what waits, or will wait, for it.
void discard(stream& s) {
    s.start = s.size = s.released = 0;
    s.dropped = 0;
}

// Writes released bytes until the descriptor takes no more.
void drain(stream& s) {
    if (s.released == 0) return;
    const fd_kind kind = kind_of(s.fd);
    s.terminal = kind == fd_kind::terminal;
    while (s.released > 0) {
        const std::size_t contiguous = std::min(s.released, capacity - s.start);
        const ssize_t n = write_some(s.fd, kind, s.ring + s.start, contiguous);
        if (n < 0) {
            discard(s);  // nobody can read these any more
            return;
        }
        if (n == 0) return;
        const auto done = static_cast<std::size_t>(n);
        s.start = (s.start + done) % capacity;
        s.size -= done;
        s.released -= done;
        if (s.size == 0) s.start = 0;
    }
}

void append(stream& s, std::string_view bytes) {
    for (std::size_t done = 0; done < bytes.size();) {
        const std::size_t end = (s.start + s.size) % capacity;
        const std::size_t n = std::min(bytes.size() - done, capacity - end);
        std::memcpy(s.ring + end, bytes.data() + done, n);
        s.size += n;
        done += n;
    }
}

// One unit of output: a text, maybe escaped, maybe followed by a line end.
struct unit {
    std::string_view text;
    bool escaped = false;
    bool line_end = false;

    static bool is_control(char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte < 0x20 || byte == 0x7f;
    }
    std::size_t length() const {
        std::size_t n = text.size() + (line_end ? 1 : 0);
        if (escaped)
            n += 3 * static_cast<std::size_t>(std::count_if(text.begin(), text.end(), is_control));
        return n;
    }
    // Calls put with the bytes in order, in pieces.
    template <class Put>
    void produce(Put put) const {
        if (!escaped) {
            put(text);
        } else {
            std::size_t run = 0;  // start of the run of plain bytes
            for (std::size_t i = 0; i < text.size(); ++i) {
                if (!is_control(text[i])) continue;
                put(text.substr(run, i - run));
                char hex[5];
                std::snprintf(hex, sizeof hex, "\\x%02x", static_cast<unsigned char>(text[i]));
                put(std::string_view(hex, 4));
                run = i + 1;
            }
            put(text.substr(run));
        }
        if (line_end) put("\n");
    }
};

long long now_ms() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<long long>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

// Writes bytes straight to the descriptor, waiting for room until deadline; false when the
// deadline passed or the output broke first.
bool write_through(stream& s, fd_kind kind, std::string_view bytes, long long deadline) {
    while (!bytes.empty()) {
        const ssize_t n = write_some(s.fd, kind, bytes.data(), bytes.size());
        if (n < 0) return false;
        if (n == 0) {
            const long long left = deadline - now_ms();
            if (left <= 0) return false;
            pollfd pfd{s.fd, POLLOUT, 0};
            ::poll(&pfd, 1, static_cast<int>(left));
            continue;
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

// A unit longer than the buffer can hold: everything before it is written first, then the
// unit itself. A regular file takes it whole; any other reader gets long_line_ms, after which
// the rest is dropped and the line ended, so that the next line starts on a line of its own.
void emit_long(stream& s, const unit& u) {
    s.released = s.size;
    const fd_kind kind = kind_of(s.fd);
    const long long deadline = now_ms() + long_line_ms;
    while (s.size > 0) {
        drain(s);
        if (s.size == 0) break;
        if (now_ms() >= deadline || kind == fd_kind::broken) {
            ++s.dropped;
            return;
        }
        pollfd pfd{s.fd, POLLOUT, 0};
        ::poll(&pfd, 1, static_cast<int>(deadline - now_ms()));
    }
    bool whole = true;
    bool started = false;
    u.produce([&](std::string_view piece) {
        if (!whole || piece.empty()) return;
        whole = write_through(s, kind, piece, kind == fd_kind::regular ? deadline + 1 : deadline);
        started = true;
    });
    if (!whole) {
        ++s.dropped;
        if (started) append(s, "\n");
        s.released = s.size;
    }
}

void note_dropped(stream& s) {
    if (s.dropped == 0) return;
    char notice[64];
    const int n = std::snprintf(notice, sizeof notice, "%lu diagnostic lines dropped\n", s.dropped);
    if (static_cast<std::size_t>(n) > s.room()) return;
    append(s, std::string_view(notice, static_cast<std::size_t>(n)));
    s.dropped = 0;
    s.released = s.size;  // the reader learns of the gap as soon as it can
}

void release(stream& s) {
    if (s.mode == buffering::none || s.size - s.released >= stdio_buffer) {
        s.released = s.size;
        return;
    }
    // A terminal shows standard output line by line.
    if (s.terminal) {
        for (std::size_t i = s.size; i > s.released; --i) {
            if (s.ring[(s.start + i - 1) % capacity] == '\n') {
                s.released = i;
                break;
            }
        }
    }
}

void emit(stream& s, const unit& u) {
    drain(s);
    note_dropped(s);
    const std::size_t len = u.length();
    if (len > capacity) {
        emit_long(s, u);
    } else if (len > s.room() && kind_of(s.fd) == fd_kind::regular) {
        // A regular file never holds the server up: make room by writing.
        s.released = s.size;
        drain(s);
    }
    if (len <= capacity) {
        if (len <= s.room()) {
            u.produce([&](std::string_view piece) { append(s, piece); });
        } else {
            ++s.dropped;
        }
    }
    release(s);
    drain(s);
}

// printf onto s; longer texts are cut (no diagnostic of the server comes near).
void print(stream& s, const char* format, va_list args) {
    char buf[1024];
    const int n = std::vsnprintf(buf, sizeof buf, format, args);
    if (n < 0) return;
    emit(s, unit{std::string_view(buf, std::min(static_cast<std::size_t>(n), sizeof buf - 1))});
}

}  // namespace

void out(std::string_view text) {
    emit(out_stream, unit{text});
}

void out_line(std::string_view text) {
    emit(out_stream, unit{text, false, true});
}

void out_line_escaped(std::string_view text) {
    emit(out_stream, unit{text, true, true});
}

void out_printf(const char* format, ...) {
    va_list args;
    va_start(args, format);
    print(out_stream, format, args);
    va_end(args);
}

void flush_out() {
    out_stream.released = out_stream.size;
    drain(out_stream);
}

void err(std::string_view text) {
    emit(err_stream, unit{text});
}

void err_printf(const char* format, ...) {
    va_list args;
    va_start(args, format);
    print(err_stream, format, args);
    va_end(args);
}

void err_perror(const char* what) {
    const int error = errno;
    err_printf("%s: %s\n", what, std::strerror(error));
}

int pending_pollfds(pollfd* out) {
    int n = 0;
    for (const stream* s : {&out_stream, &err_stream}) {
        if (s->released > 0 || s->dropped > 0) out[n++] = pollfd{s->fd, POLLOUT, 0};
    }
    return n;
}

void on_writable() {
    for (stream* s : {&out_stream, &err_stream}) {
        drain(*s);
        note_dropped(*s);
        release(*s);
        drain(*s);
    }
}

}  // namespace diag
