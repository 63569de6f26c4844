#include "server/socket_io.h"

#include <poll.h>
#include <sys/socket.h>
#include <time.h>

#include <cerrno>

namespace {

std::int64_t monotonic_millis() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

}  // namespace

std::int64_t monotonic_seconds() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec;
}

bool socket_wait_readable(int sock, int timeout_s) {
    // poll rather than select: the same wait, without select's limit on descriptor numbers.
    const std::int64_t end = monotonic_millis() + static_cast<std::int64_t>(timeout_s) * 1000;
    for (;;) {
        const std::int64_t left = end - monotonic_millis();
        if (left <= 0) return false;
        pollfd pfd{sock, POLLIN, 0};
        const int ready = poll(&pfd, 1, static_cast<int>(left));
        if (ready > 0) return true;
        if (ready == 0) return false;
        if (errno != EINTR) return false;
    }
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
