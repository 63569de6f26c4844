#include "client/connection.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>

#include "tools/escape.h"

namespace ifc_client {

namespace {

std::string errno_text(const char* what) {
    return std::string(what) + ": " + std::strerror(errno);
}

std::string header_with(std::string_view token, std::string_view rest) {
    std::string header(token);
    header += rest;
    header.resize(protocol::header_len, ' ');
    return header;
}

// What a time-out interrupted: sending, or waiting for the missing bytes.
// A wait that ran out after the server had answered on this connection: it took the
// connection, so it is not busy with another client; it stopped answering.
std::string waiting_text(std::size_t missing) {
    if (missing == 0) return "sending";
    return "the server stopped answering: waiting for " + std::to_string(missing) +
           " more bytes from it";
}

timeval to_timeval(std::chrono::milliseconds ms) {
    timeval tv{};
    tv.tv_sec = static_cast<time_t>(ms.count() / 1000);
    tv.tv_usec = static_cast<suseconds_t>((ms.count() % 1000) * 1000);
    return tv;
}

int poll_millis(std::chrono::milliseconds ms) {
    return static_cast<int>(std::clamp<std::int64_t>(ms.count(), 0, 1 << 30));
}

// A first answer later than this is most likely held back by another client being served.
constexpr std::chrono::milliseconds queue_notice_after{1000};

enum class wait_result { ready, time_up, cancelled, failed };

// Waits until fd is ready for events, wait passes or cancel_fd (when not -1) becomes readable.
wait_result wait_on(int fd, short events, int cancel_fd, std::chrono::milliseconds wait) {
    const auto end = std::chrono::steady_clock::now() + wait;
    for (;;) {
        const auto left =
            std::chrono::ceil<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
        // poll leaves out an entry whose descriptor is negative.
        pollfd pfds[2] = {{fd, events, 0}, {cancel_fd, POLLIN, 0}};
        const int ready = ::poll(pfds, 2, poll_millis(left));
        if (ready < 0) {
            if (errno == EINTR) continue;
            return wait_result::failed;
        }
        if (ready == 0) return wait_result::time_up;
        if (pfds[1].revents != 0) return wait_result::cancelled;
        return wait_result::ready;
    }
}

// What is left until end, in whole milliseconds (never negative).
std::chrono::milliseconds left_until(std::chrono::steady_clock::time_point end) {
    const auto now = std::chrono::steady_clock::now();
    if (end <= now) return std::chrono::milliseconds(0);
    return std::chrono::ceil<std::chrono::milliseconds>(end - now);
}

constexpr const char* cancelled_text = "cancelled: the program is stopping";

// "0.3 s", "30 s"
std::string seconds_text(std::chrono::milliseconds ms) {
    std::string text = std::to_string(ms.count() / 1000);
    if (const auto rest = ms.count() % 1000; rest != 0) {
        std::string decimals = std::to_string(1000 + rest).substr(1);
        decimals.erase(decimals.find_last_not_of('0') + 1);
        text += "." + decimals;
    }
    return text + " s";
}

// Connects fd to addr within timeout. 0, or the errno of the failure (ETIMEDOUT on time-out,
// ECANCELED when cancel_fd became readable first).
int connect_within(int fd, const sockaddr* addr, socklen_t len, std::chrono::milliseconds timeout,
                   int cancel_fd) {
    const int flags = fcntl(fd, F_GETFL);
    fcntl(fd, F_SETFL, flags | O_NONBLOCK);
    int failure = 0;
    if (::connect(fd, addr, len) < 0) {
        if (errno != EINPROGRESS) return errno;
        switch (wait_on(fd, POLLOUT, cancel_fd, timeout)) {
            case wait_result::time_up:
                return ETIMEDOUT;
            case wait_result::cancelled:
                return ECANCELED;
            case wait_result::failed:
                return errno;
            case wait_result::ready:
                break;
        }
        socklen_t size = sizeof failure;
        getsockopt(fd, SOL_SOCKET, SO_ERROR, &failure, &size);
    }
    fcntl(fd, F_SETFL, flags);
    return failure;
}

}  // namespace

std::string_view errc_name(errc code) {
    switch (code) {
        case errc::refused:
            return "connection refused";
        case errc::timeout:
            return "time-out";
        case errc::unknown_command:
            return "unknown command";
        case errc::rejected:
            return "rejected by the server";
        case errc::closed:
            return "connection closed by the server";
        case errc::protocol:
            return "protocol error";
        case errc::bad_request:
            return "bad request";
        case errc::io:
            return "i/o error";
    }
    return "error";
}

result<connection> connection::open(const endpoint& where) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const std::string port = std::to_string(where.port);
    const int rc = getaddrinfo(where.host.c_str(), port.c_str(), &hints, &found);
    if (rc != 0) return error{errc::refused, where.host + ": " + gai_strerror(rc)};
    unique_fd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP));
    if (!fd) {
        freeaddrinfo(found);
        return error{errc::io, errno_text("socket")};
    }
    const int failure =
        connect_within(fd.get(), found->ai_addr, found->ai_addrlen,
                       std::min(where.timeout, left_until(where.give_up)), where.cancel_fd);
    freeaddrinfo(found);
    const std::string target = where.host + ":" + port;
    if (failure == ETIMEDOUT) return error{errc::timeout, "connecting to " + target};
    if (failure == ECANCELED) return error{errc::io, cancelled_text};
    if (failure == ECONNREFUSED) {
        return error{errc::refused, "connecting to " + target + ": " + std::strerror(failure) +
                                        " (is ifc-server running on " + target + "?)"};
    }
    if (failure != 0) {
        return error{errc::refused, "connecting to " + target + ": " + std::strerror(failure)};
    }
    // Requests are small and answered at once: no waiting for more bytes to fill a segment.
    const int on = 1;
    setsockopt(fd.get(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    const timeval tv = to_timeval(where.timeout);
    setsockopt(fd.get(), SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    setsockopt(fd.get(), SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
    return connection(std::move(fd), where);
}

std::string connection::peer_address() const {
    sockaddr_in peer{};
    socklen_t len = sizeof peer;
    if (!fd_ || ::getpeername(fd_.get(), reinterpret_cast<sockaddr*>(&peer), &len) != 0) return "";
    char text[INET_ADDRSTRLEN] = "";
    ::inet_ntop(AF_INET, &peer.sin_addr, text, sizeof text);
    return std::string(text) + ":" + std::to_string(ntohs(peer.sin_port));
}

error connection::fail(errc code, std::string detail) {
    fd_.reset();
    return error{code, std::move(detail)};
}

// Bounds one exchange as a whole: a server that sends one byte just before each wait runs out
// would otherwise keep the client for as long as it likes.
class connection::exchange_scope {
  public:
    explicit exchange_scope(connection& conn) : conn_(conn) {
        conn_.exchange_end_ = clock::now() + conn_.deadline_;
    }
    ~exchange_scope() { conn_.exchange_end_.reset(); }
    exchange_scope(const exchange_scope&) = delete;
    exchange_scope& operator=(const exchange_scope&) = delete;

  private:
    connection& conn_;
};

status connection::wait_ready(short events, std::size_t missing) {
    if (!exchange_end_) return done{};  // the socket's own time-outs bound each call
    const auto exchange_left = left_until(*exchange_end_);
    const auto session_left = left_until(give_up_);
    const auto left = std::min(exchange_left, session_left);
    const auto wait = std::min(left, timeout_);
    wait_result waited = wait_result::time_up;
    if (left.count() > 0) waited = wait_on(fd_.get(), events, cancel_fd_, wait);
    switch (waited) {
        case wait_result::ready:
            return done{};
        case wait_result::failed:
            return fail(errc::io, errno_text("poll"));
        case wait_result::cancelled:
            return fail(errc::io, cancelled_text);
        case wait_result::time_up:
            break;
    }
    if (left.count() > 0 && wait < left) return fail(errc::timeout, waiting_text(missing));
    if (session_left < exchange_left) {
        return fail(errc::timeout,
                    "the time given to this session ran out (" + waiting_text(missing) + ")");
    }
    return fail(errc::timeout, "no complete exchange within the deadline of " +
                                   std::to_string(deadline_.count()) + " ms");
}

status connection::send_bytes(std::string_view bytes) {
    if (!fd_) return error{errc::closed, "connection is closed"};
    // Within an exchange every call waits for readiness first and then does not block, so
    // that the deadline holds.
    const int dont_wait = exchange_end_ ? MSG_DONTWAIT : 0;
    while (!bytes.empty()) {
        if (auto ready = wait_ready(POLLOUT, 0); !ready) return ready;
        const ssize_t k = ::send(fd_.get(), bytes.data(), bytes.size(), MSG_NOSIGNAL | dont_wait);
        if (k < 0) {
            if (errno == EINTR || (dont_wait && (errno == EAGAIN || errno == EWOULDBLOCK))) {
                continue;
            }
            if (errno == EAGAIN || errno == EWOULDBLOCK)
                return fail(errc::timeout, waiting_text(0));
            if (errno == EPIPE || errno == ECONNRESET) return fail(errc::closed, "sending");
            return fail(errc::io, errno_text("send"));
        }
        bytes.remove_prefix(static_cast<std::size_t>(k));
    }
    return done{};
}

status connection::await_first_answer() {
    answered_ = true;
    const auto patience = std::max(timeout_, queue_wait_);
    const auto first = std::min(queue_notice_after, patience);
    const auto wait = [this](std::chrono::milliseconds length) {
        return wait_on(fd_.get(), POLLIN, cancel_fd_, std::min(length, left_until(give_up_)));
    };
    auto waited = wait(first);
    if (waited == wait_result::time_up && first < patience && left_until(give_up_).count() > 0) {
        if (on_queued_) on_queued_(patience);
        waited = wait(patience - first);
    }
    switch (waited) {
        case wait_result::ready:
            return done{};
        case wait_result::failed:
            return fail(errc::io, errno_text("poll"));
        case wait_result::cancelled:
            return fail(errc::io, cancelled_text);
        case wait_result::time_up:
            break;
    }
    if (left_until(give_up_).count() == 0) {
        return fail(errc::timeout, "the time given to this session ran out");
    }
    // No byte at all since the connection was made: a server busy with another client and one
    // that does not answer cannot be told apart.
    return fail(errc::timeout, "no answer within " + seconds_text(patience) +
                                   ": the server is serving another client (it serves one at "
                                   "a time) or is not answering");
}

result<std::string> connection::recv_bytes(std::size_t count) {
    if (!fd_) return error{errc::closed, "connection is closed"};
    if (!answered_ && count > 0) {
        if (auto first = await_first_answer(); !first) return first.failure();
        // The server has taken the connection only now: the exchange's deadline starts here.
        if (exchange_end_) exchange_end_ = clock::now() + deadline_;
    }
    std::string bytes(count, '\0');
    std::size_t got = 0;
    const int dont_wait = exchange_end_ ? MSG_DONTWAIT : 0;
    while (got < count) {
        if (auto ready = wait_ready(POLLIN, count - got); !ready) return ready.failure();
        const ssize_t k = ::recv(fd_.get(), bytes.data() + got, count - got, dont_wait);
        if (k < 0) {
            if (errno == EINTR || (dont_wait && (errno == EAGAIN || errno == EWOULDBLOCK))) {
                continue;
            }
            if (errno == EAGAIN || errno == EWOULDBLOCK) {
                return fail(errc::timeout, waiting_text(count - got));
            }
            if (errno == ECONNRESET) return fail(errc::closed, "connection reset");
            return fail(errc::io, errno_text("recv"));
        }
        if (k == 0) {
            return fail(errc::closed,
                        "after " + std::to_string(got) + " of " + std::to_string(count) + " bytes");
        }
        got += static_cast<std::size_t>(k);
    }
    return bytes;
}

status connection::expect_token(std::string_view token) {
    auto got = recv_bytes(token.size());
    if (!got) return got.failure();
    if (got.value() != token) {
        return fail(errc::protocol, "expected \"" + std::string(token) + "\", got \"" +
                                        ifc_tool::escaped(got.value()) + "\"");
    }
    return done{};
}

result<std::string> connection::get(std::string_view name) {
    if (name.size() > static_cast<std::size_t>(protocol::name_field_len)) {
        return error{errc::bad_request, "command name longer than 20 characters"};
    }
    const exchange_scope exchange(*this);
    if (auto sent = send_bytes(header_with(protocol::get_token, name)); !sent) {
        return sent.failure();
    }
    auto header = recv_bytes(protocol::len_header_len);
    if (!header) return header.failure();
    const std::string& text = header.value();
    int len = 0;
    const char* digits = text.data() + protocol::len_token.size();
    const auto [end, ec] = std::from_chars(digits, text.data() + text.size(), len);
    if (text.compare(0, protocol::len_token.size(), protocol::len_token) != 0 ||
        ec != std::errc() || end != text.data() + text.size() || len < -1) {
        return fail(errc::protocol, "bad length header \"" + ifc_tool::escaped(text) + "\"");
    }
    if (len == protocol::unknown_command_len) {
        return fail(errc::unknown_command, std::string(name));
    }
    // A server's answer is built in its transfer buffer: a longer length is not an answer, and
    // taking it at its word would let a broken server make the client hold gigabytes.
    if (len > protocol::max_payload) {
        return fail(errc::protocol, "answer length " + std::to_string(len) + " is beyond the " +
                                        std::to_string(protocol::max_payload) +
                                        " bytes a server sends");
    }
    std::string answer;
    answer.reserve(static_cast<std::size_t>(len));
    while (answer.size() < static_cast<std::size_t>(len)) {
        if (auto sent = send_bytes(protocol::next_token); !sent) return sent.failure();
        const std::size_t chunk = std::min<std::size_t>(len - answer.size(), protocol::chunk_size);
        auto part = recv_bytes(chunk);
        if (!part) return part.failure();
        answer += part.value();
    }
    return answer;
}

status connection::put(std::string_view name, std::string_view argument) {
    std::string payload(name);
    payload += '\0';
    payload += argument;
    return put_payload(payload);
}

status connection::put_payload(std::string_view payload) {
    const exchange_scope exchange(*this);
    if (auto sent = send_bytes(header_with(protocol::put_token, std::to_string(payload.size())));
        !sent) {
        return sent;
    }
    while (!payload.empty()) {
        auto token = recv_bytes(protocol::next_token.size());
        if (!token) return token.failure();
        // "ERR!": the length was refused; the connection stays usable.
        if (token.value() == protocol::err_token) {
            return error{errc::rejected,
                         "payload of " + std::to_string(payload.size()) + " bytes refused"};
        }
        if (token.value() != protocol::next_token) {
            return fail(errc::protocol,
                        "expected \"NEXT\", got \"" + ifc_tool::escaped(token.value()) + "\"");
        }
        const std::size_t chunk = std::min<std::size_t>(payload.size(), protocol::chunk_size);
        if (auto sent = send_bytes(payload.substr(0, chunk)); !sent) return sent;
        payload.remove_prefix(chunk);
    }
    // The server has the whole request: without its "FIN" nobody can tell whether it ran it.
    auto fin = expect_token(protocol::fin_token);
    if (!fin) {
        error unknown = fin.failure();
        unknown.outcome_unknown = true;
        unknown.detail = "no FIN after the whole request was sent (" +
                         std::string(errc_name(unknown.code)) +
                         (unknown.detail.empty() ? "" : ": " + unknown.detail) + ")";
        return unknown;
    }
    return fin;
}

status connection::ping() {
    const exchange_scope exchange(*this);
    return send_bytes(header_with(protocol::ping_token, ""));
}

status connection::disconnect() {
    const exchange_scope exchange(*this);
    status sent = send_bytes(header_with(protocol::disconnect_token, ""));
    fd_.reset();
    return sent;
}

status connection::disconnect_and_wait() {
    if (auto sent = send_bytes(header_with(protocol::disconnect_token, "")); !sent) return sent;
    if (!answered_) {
        if (auto first = await_first_answer(); !first) return first.failure();
    }
    char byte;
    ssize_t k;
    do
        k = ::recv(fd_.get(), &byte, 1, 0);
    while (k < 0 && errno == EINTR);
    if (k > 0) return fail(errc::protocol, "bytes after DISCONNECT");
    if (k < 0 && errno != ECONNRESET) {
        return fail(errno == EAGAIN || errno == EWOULDBLOCK ? errc::timeout : errc::io,
                    "waiting for the server to close the connection after DISCONNECT");
    }
    fd_.reset();
    return done{};
}

bool connection::server_closed(std::chrono::milliseconds wait) {
    if (!fd_) return true;
    pollfd pfd{fd_.get(), POLLIN, 0};
    if (::poll(&pfd, 1, poll_millis(wait)) <= 0) return false;
    char byte;
    const ssize_t k = ::recv(fd_.get(), &byte, 1, MSG_PEEK | MSG_DONTWAIT);
    return k == 0 || (k < 0 && errno == ECONNRESET);
}

std::string connection::recv_available(std::chrono::milliseconds wait, std::size_t max) {
    std::string bytes;
    if (!fd_) return bytes;
    pollfd pfd{fd_.get(), POLLIN, 0};
    if (::poll(&pfd, 1, poll_millis(wait)) <= 0) return bytes;
    bytes.resize(max);
    const ssize_t k = ::recv(fd_.get(), bytes.data(), max, MSG_DONTWAIT);
    bytes.resize(k > 0 ? static_cast<std::size_t>(k) : 0);
    return bytes;
}

void connection::close_sending() {
    if (fd_) ::shutdown(fd_.get(), SHUT_WR);
}

void connection::close() {
    fd_.reset();
}

void connection::abort() {
    if (!fd_) return;
    const linger reset_on_close{1, 0};
    setsockopt(fd_.get(), SOL_SOCKET, SO_LINGER, &reset_on_close, sizeof reset_on_close);
    fd_.reset();
}

}  // namespace ifc_client
