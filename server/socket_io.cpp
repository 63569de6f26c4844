#include "server/socket_io.h"

#include <poll.h>
#include <sys/socket.h>
#include <time.h>

#include <algorithm>
#include <cerrno>

#include "lib/diag.h"

namespace {

enum class waited { ready, timed_out, failed };

// Waits until fd has events (fd < 0: nothing to wait for) or the clock reaches end; writes
// diagnostics whenever their descriptors take bytes meanwhile.
waited wait_for(int fd, short events, std::int64_t end) {
    for (;;) {
        int timeout = -1;
        if (end != no_limit) {
            const std::int64_t left = end - monotonic_millis();
            if (left <= 0) return waited::timed_out;
            timeout = static_cast<int>(std::min<std::int64_t>(left, 1 << 30));
        }
        pollfd fds[3] = {{fd, events, 0}};
        const int count = 1 + diag::pending_pollfds(fds + 1);
        const int ready = poll(fds, static_cast<nfds_t>(count), timeout);
        if (ready < 0) {
            if (errno == EINTR) continue;
            return waited::failed;
        }
        if (ready == 0) return waited::timed_out;
        if (fds[0].revents != 0) return waited::ready;
        diag::on_writable();
    }
}

}  // namespace

std::int64_t monotonic_millis() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

std::int64_t monotonic_seconds() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec;
}

bool socket_wait_readable(int sock, int timeout_s, std::int64_t not_after_ms) {
    // poll rather than select: the same wait, without select's limit on descriptor numbers.
    const std::int64_t end =
        std::min(monotonic_millis() + static_cast<std::int64_t>(timeout_s) * 1000, not_after_ms);
    return wait_for(sock, POLLIN, end) == waited::ready;
}

bool socket_wait_connection(int listener) {
    return wait_for(listener, POLLIN, no_limit) != waited::failed;
}

void pause_millis(int ms) {
    wait_for(-1, 0, monotonic_millis() + ms);
}

ssize_t socket_recv(int sock, void* buf, std::size_t len) {
    for (;;) {
        const ssize_t k = recv(sock, buf, len, 0);
        if (k >= 0 || errno != EINTR) return k;
    }
}

ssize_t socket_send(int sock, const void* data, std::size_t len) {
    for (;;) {
        const ssize_t k = send(sock, data, len, MSG_NOSIGNAL);
        if (k >= 0 || errno != EINTR) return k;
    }
}
