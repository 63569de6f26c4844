#include "server/ether_com.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "lib/protocol.h"
#include "server/socket_io.h"

std::int16_t deb_ether_com = 1;

namespace {

void report(const char* message) {
    if (deb_ether_com) std::puts(message);
}

// The deadline is tested before each chunk: a transfer fails at the first chunk boundary
// where the clock reads start + timeout + 1 or later.
bool past(std::int64_t deadline) {
    return monotonic_seconds() > deadline;
}

// Reports a set-up failure in the perror form (when there is a text) and gives the socket
// back: the caller ends the program, but a caller that does not (a test, a tool) leaks nothing.
int fail_init(int* sock, const char* perror_text) {
    if (perror_text != nullptr) std::perror(perror_text);
    close(*sock);
    *sock = -1;
    return -1;
}

}  // namespace

int ether_init(int* sock, std::uint16_t port) {
    const int fd = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    *sock = fd;
    if (fd < 0) {
        std::fputs("server: socket()\n", stderr);
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

int ether_recv_unit_data(int sock, char* buf, int len, int timeout) {
    int got = 0;
    while (got < len) {
        if (!socket_wait_readable(sock, timeout)) {
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

int ether_recv_all_data(int sock, char* buf, int len, int timeout) {
    const std::int64_t deadline = monotonic_seconds() + timeout;
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
        if (ether_recv_unit_data(sock, buf + got, chunk, protocol::wait_seconds) != chunk) {
            return -1;
        }
        got += chunk;
    }
    socket_send(sock, protocol::fin_token);  // the client learns nothing more; result unused
    return got;
}

int ether_send_all_data(int sock, const char* buf, int len, int timeout) {
    const std::int64_t deadline = monotonic_seconds() + timeout;
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
        const int r = ether_recv_unit_data(sock, ack, sizeof ack, protocol::wait_seconds);
        if (r < 0) {
            report("ether_send_all_data(): ether_recv_unit_data() error");
            std::fflush(stdout);
            return -1;
        }
        if (r != static_cast<int>(sizeof ack)) {
            std::fflush(stdout);
            return -1;
        }
        if (std::memcmp(ack, protocol::next_token.data(), sizeof ack) != 0) {
            report("ether_send_all_data(): can't found \"NEXT\"");
            std::fflush(stdout);
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
