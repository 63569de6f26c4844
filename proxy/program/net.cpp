#include "proxy/program/net.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstring>

#include "proxy/program/defaults.h"

namespace proxy_net {

namespace {

std::string errno_text(const char* what) {
    return std::string(what) + ": " + std::strerror(errno);
}

}  // namespace

bool parse_address(std::string_view text, address& out, std::string& error) {
    const std::size_t colon = text.rfind(':');
    const std::string_view host =
        colon == std::string_view::npos ? proxy_defaults::host : text.substr(0, colon);
    const std::string_view port = colon == std::string_view::npos ? text : text.substr(colon + 1);
    unsigned value = 0;
    const auto [end, ec] = std::from_chars(port.data(), port.data() + port.size(), value);
    if (host.empty() || port.empty() || ec != std::errc{} || end != port.data() + port.size() ||
        value == 0 || value > 65535) {
        error = "'" + std::string(text) + "' is not HOST:PORT (port 1 to 65535)";
        return false;
    }
    out.host = host;
    out.port = static_cast<std::uint16_t>(value);
    return true;
}

bool resolve(const address& where, sockaddr_in& out, std::string& error) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const int rc = ::getaddrinfo(where.host.c_str(), nullptr, &hints, &found);
    if (rc != 0) {
        error = where.host + ": " + ::gai_strerror(rc);
        return false;
    }
    out = *reinterpret_cast<const sockaddr_in*>(found->ai_addr);
    out.sin_port = htons(where.port);
    ::freeaddrinfo(found);
    return true;
}

int listen_on(const sockaddr_in& where, int backlog, std::string& error) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_TCP);
    if (fd < 0) {
        error = errno_text("socket");
        return -1;
    }
    const int on = 1;
    if (::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
        ::bind(fd, reinterpret_cast<const sockaddr*>(&where), sizeof where) != 0 ||
        ::listen(fd, backlog) != 0) {
        error = errno_text("listen");
        ::close(fd);
        return -1;
    }
    return fd;
}

int accept_from(int listener, std::string& peer, std::string& error) {
    sockaddr_in addr{};
    socklen_t len = sizeof addr;
    int fd;
    do
        fd = ::accept4(listener, reinterpret_cast<sockaddr*>(&addr), &len,
                       SOCK_NONBLOCK | SOCK_CLOEXEC);
    while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        if (errno != EAGAIN && errno != EWOULDBLOCK) error = errno_text("accept");
        return -1;
    }
    char host[INET_ADDRSTRLEN] = "?";
    ::inet_ntop(AF_INET, &addr.sin_addr, host, sizeof host);
    peer = std::string(host) + ":" + std::to_string(ntohs(addr.sin_port));
    return fd;
}

int connect_to(const sockaddr_in& where, std::string& error) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_TCP);
    if (fd < 0) {
        error = errno_text("socket");
        return -1;
    }
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&where), sizeof where) != 0 &&
        errno != EINPROGRESS) {
        error = std::strerror(errno);
        ::close(fd);
        return -1;
    }
    return fd;
}

int connect_result(int fd) {
    int failure = 0;
    socklen_t size = sizeof failure;
    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &failure, &size) != 0) return errno;
    return failure;
}

void no_delay(int fd) {
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

void close_with_reset(int fd) {
    const linger reset_on_close{1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &reset_on_close, sizeof reset_on_close);
    ::close(fd);
}

}  // namespace proxy_net
