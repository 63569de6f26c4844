#include "server/ether_com.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "lib/diag.h"
#include "protocol/protocol.h"
#include "server/socket_io.h"

std::int16_t deb_ether_com = 1;

namespace {

void report(const char* message) {
    if (deb_ether_com) diag::out_line(message);
}

// The deadline is tested before each chunk: a transfer fails at the first chunk boundary
// where the clock reads start + timeout + 1 or later.
bool past(std::int64_t deadline) {
    return monotonic_seconds() > deadline;
}

// Reports a set-up failure in the perror form (when there is a text) and gives the socket
// back: the caller ends the program, but a caller that does not (a test, a tool) leaks nothing.
int fail_init(int* sock, const char* perror_text) {
    if (perror_text != nullptr) diag::err_perror(perror_text);
    close(*sock);
    *sock = -1;
    return -1;
}

}  // namespace

int ether_init(int* sock, std::uint16_t port) {
    const int fd = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    *sock = fd;
    if (fd < 0) {
        diag::err("server: socket()\n");
        return -1;
    }
    const int on = 1;
    if (setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) < 0) {
        return fail_init(sock, nullptr);
    }
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_ANY);
    addr.sin_port = htons(port);
    if (bind(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) < 0) {
        return fail_init(sock, "server: bind");
    }
    if (listen(fd, protocol::listen_backlog) < 0) return fail_init(sock, "server: listen");
    return 1;
}

namespace {

// ether_recv_unit_data, with every wait also ending when the clock reaches not_after_ms.
int recv_unit(int sock, char* buf, int len, int timeout, std::int64_t not_after_ms) {
    int got = 0;
    while (got < len) {
        if (!socket_wait_readable(sock, timeout, not_after_ms)) {
            report("\nether_recv_unit_data(): select() timeout");
            return -1;
        }
        const ssize_t k = socket_recv(sock, buf + got, static_cast<std::size_t>(len - got));
        if (k < 0) {
            // Readable but nothing there after all: wait again.
            if (errno == EAGAIN || errno == EWOULDBLOCK) continue;
            return -1;
        }
        if (k == 0) return got;
        got += static_cast<int>(k);
    }
    return got;
}

// The moment a transfer started at start_ms ends for good. The deadline is tested before each
// chunk, but the waits within a chunk restart with every byte that arrives: without this
// bound a client dripping one byte every few seconds could stretch one chunk for an hour while
// every other client waits. So no wait of a transfer runs past its deadline plus one wait.
std::int64_t transfer_end(std::int64_t start_ms, int timeout) {
    return start_ms + (static_cast<std::int64_t>(timeout) + protocol::wait_seconds) * 1000;
}

}  // namespace

int ether_recv_unit_data(int sock, char* buf, int len, int timeout) {
    return recv_unit(sock, buf, len, timeout, no_limit);
}

int ether_recv_all_data(int sock, char* buf, int len, int timeout) {
    const std::int64_t deadline = monotonic_seconds() + timeout;
    const std::int64_t end = transfer_end(monotonic_millis(), timeout);
    int got = 0;
    while (got < len) {
        if (past(deadline)) {
            report("ether_recv_all_data(): time_out");
            return -1;
        }
        if (socket_send(sock, protocol::next_token) !=
            static_cast<ssize_t>(protocol::next_token.size())) {
            report("send() error");
            return -1;
        }
        const int chunk = std::min(len - got, protocol::chunk_size);
        if (recv_unit(sock, buf + got, chunk, protocol::wait_seconds, end) != chunk) {
            return -1;
        }
        got += chunk;
    }
    socket_send(sock, protocol::fin_token);  // the client learns nothing more; result unused
    return got;
}

int ether_send_all_data(int sock, const char* buf, int len, int timeout) {
    const std::int64_t deadline = monotonic_seconds() + timeout;
    const std::int64_t end = transfer_end(monotonic_millis(), timeout);
    char header[32];
    std::snprintf(header, sizeof header, "LEN%010d", len);
    if (socket_send(sock, header, protocol::len_header_len) != protocol::len_header_len) {
        report("ether_send_all_data(): send() error");
        return -1;
    }
    int sent = 0;
    while (sent < len) {
        if (past(deadline)) {
            report("ether_send_all_data(): time_out");
            return -1;
        }
        char ack[4];
        const int r = recv_unit(sock, ack, sizeof ack, protocol::wait_seconds, end);
        if (r < 0) {
            report("ether_send_all_data(): ether_recv_unit_data() error");
            diag::flush_out();
            return -1;
        }
        if (r != static_cast<int>(sizeof ack)) {
            diag::flush_out();
            return -1;
        }
        if (std::memcmp(ack, protocol::next_token.data(), sizeof ack) != 0) {
            report("ether_send_all_data(): can't found \"NEXT\"");
            diag::flush_out();
            return -1;
        }
        // One send per chunk: a call that takes fewer bytes than offered fails the transfer.
        const int chunk = std::min(len - sent, protocol::chunk_size);
        if (socket_send(sock, buf + sent, static_cast<std::size_t>(chunk)) != chunk) {
            report("ether_send_all_data(): data send error");
            return -1;
        }
        sent += chunk;
    }
    return sent;
}
