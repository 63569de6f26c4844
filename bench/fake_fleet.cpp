#include "bench/fake_fleet.h"

#include <netinet/in.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>

#include <cstdio>
#include <memory>
#include <string_view>
#include <unordered_map>

#include "bench/gateway_bench_support.h"
#include "client/commands.h"
#include "client/connection.h"
#include "protocol/protocol.h"

namespace gateway_bench {

namespace {

using namespace std::chrono_literals;

ifc_client::unique_fd loopback_listener(std::uint16_t& port) {
    ifc_client::unique_fd fd(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (!fd || ::bind(fd.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(fd.get(), protocol::listen_backlog) != 0 ||
        ::getsockname(fd.get(), reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        die("fake fleet: cannot listen on loopback (too many open files? raise ulimit -n)");
    }
    port = ntohs(addr.sin_port);
    return fd;
}

std::string trimmed_name(std::string_view header) {
    std::string_view name = header.substr(protocol::name_field_offset, protocol::name_field_len);
    while (!name.empty() && (name.back() == ' ' || name.back() == '\0'))
        name.remove_suffix(1);
    return std::string(name);
}

}  // namespace

std::map<std::string, std::string> answers_of_a_real_server(const std::string& server_path) {
    scratch_dir dir;
    const std::uint16_t port = free_port();
    child server(server_path, {"--port", std::to_string(port)}, dir.path);
    if (!wait_answering(port)) die("fake fleet: " + server_path + " did not start");
    auto conn = ifc_client::connection::open({"127.0.0.1", port, 2000ms});
    if (!conn) die("fake fleet: cannot connect to the server: " + conn.failure().detail);
    std::map<std::string, std::string> answers;
    for (const std::string& name : ifc_client::commands::read_commands()) {
        auto answer = conn->get(name);
        if (!answer) die("fake fleet: GET " + name + " failed: " + answer.failure().detail);
        answers[name] = std::move(answer.value());
    }
    conn->disconnect();
    return answers;
}

// One connection: the bytes received and not yet used, what is left to send, and an answer
// whose later chunks wait for their NEXT.
struct fake_fleet::client {
    ifc_client::unique_fd fd;
    std::string received;
    std::string unsent;
    std::string_view answer_left;
    bool closing = false;  // close once unsent is out
};

fake_fleet::fake_fleet(std::map<std::string, std::string> answers, int count)
    : answers_(std::move(answers)),
      epoll_(::epoll_create1(EPOLL_CLOEXEC)),
      stop_event_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)),
      connected_(static_cast<std::size_t>(count)) {
    if (!epoll_ || !stop_event_) die("fake fleet: no epoll");
    epoll_event stop{EPOLLIN, {.u64 = ~0ULL}};
    ::epoll_ctl(epoll_.get(), EPOLL_CTL_ADD, stop_event_.get(), &stop);
    for (int i = 0; i < count; ++i) {
        std::uint16_t port = 0;
        listeners_.push_back(loopback_listener(port));
        ports_.push_back(port);
        // Listeners are told apart from clients by the top bit.
        epoll_event ev{EPOLLIN, {.u64 = (1ULL << 63) | static_cast<std::uint64_t>(i)}};
        ::epoll_ctl(epoll_.get(), EPOLL_CTL_ADD, listeners_.back().get(), &ev);
    }
    thread_ = std::thread([this] { run(); });
}

fake_fleet::~fake_fleet() {
    const std::uint64_t one = 1;
    if (::write(stop_event_.get(), &one, sizeof one) < 0) std::perror("fake_fleet");
    thread_.join();
}

std::vector<std::vector<fake_fleet::clock::time_point>> fake_fleet::connection_times() const {
    std::lock_guard lock(mutex_);
    return connected_;
}

void fake_fleet::forget() {
    std::lock_guard lock(mutex_);
    for (auto& times : connected_)
        times.clear();
}

void fake_fleet::run() {
    std::unordered_map<int, std::unique_ptr<client>> clients;
    std::vector<epoll_event> events(256);
    for (;;) {
        const int n =
            ::epoll_wait(epoll_.get(), events.data(), static_cast<int>(events.size()), -1);
        for (int i = 0; i < n; ++i) {
            const std::uint64_t tag = events[static_cast<std::size_t>(i)].data.u64;
            if (tag == ~0ULL) return;
            if (tag >> 63) {
                accept_all(static_cast<std::size_t>(tag & ~(1ULL << 63)));
                continue;
            }
            const int fd = static_cast<int>(tag);
            auto found = clients.find(fd);
            if (found == clients.end()) {  // accepted by accept_all: first bytes
                auto c = std::make_unique<client>();
                c->fd = ifc_client::unique_fd(fd);
                found = clients.emplace(fd, std::move(c)).first;
            }
            if (!serve(*found->second)) clients.erase(found);
        }
    }
}

void fake_fleet::accept_all(std::size_t controller) {
    for (;;) {
        const int fd =
            ::accept4(listeners_[controller].get(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) return;
        {
            std::lock_guard lock(mutex_);
            connected_[controller].push_back(clock::now());
        }
        epoll_event ev{EPOLLIN | EPOLLOUT | EPOLLET, {.u64 = static_cast<std::uint64_t>(fd)}};
        ::epoll_ctl(epoll_.get(), EPOLL_CTL_ADD, fd, &ev);
    }
}

// Reads what came, answers it, sends what it can; false when the connection is done.
bool fake_fleet::serve(client& c) {
    char buffer[4096];
    for (;;) {
        const ssize_t got = ::recv(c.fd.get(), buffer, sizeof buffer, 0);
        if (got > 0) {
            c.received.append(buffer, static_cast<std::size_t>(got));
            continue;
        }
        if (got == 0) return false;
        if (errno == EAGAIN || errno == EWOULDBLOCK) break;
        return false;
    }
    for (;;) {
        if (!c.answer_left.empty()) {  // an answer longer than a chunk: one more per NEXT
            if (c.received.size() < protocol::next_token.size()) break;
            c.received.erase(0, protocol::next_token.size());
            const auto chunk = c.answer_left.substr(0, protocol::chunk_size);
            c.unsent += chunk;
            c.answer_left.remove_prefix(chunk.size());
            continue;
        }
        if (c.closing || c.received.size() < protocol::header_len) break;
        const std::string header = c.received.substr(0, protocol::header_len);
        c.received.erase(0, protocol::header_len);
        switch (protocol::classify_header(header)) {
            case protocol::header_kind::get: {
                const auto found = answers_.find(trimmed_name(header));
                if (found == answers_.end()) {
                    c.unsent += "LEN-000000001";
                    c.closing = true;
                    break;
                }
                char len[protocol::len_header_len + 1];
                std::snprintf(len, sizeof len, "LEN%010d", static_cast<int>(found->second.size()));
                c.unsent += len;
                // The first chunk follows the first NEXT, like every other.
                c.answer_left = found->second;
                break;
            }
            case protocol::header_kind::ping:
                break;
            case protocol::header_kind::put:  // a benchmark's controller takes no writes
                c.unsent += protocol::err_token;
                c.closing = true;
                break;
            default:  // DISCONNECT, or bytes that are no header
                return false;
        }
    }
    while (!c.unsent.empty()) {
        const ssize_t sent = ::send(c.fd.get(), c.unsent.data(), c.unsent.size(), MSG_NOSIGNAL);
        if (sent < 0) return errno == EAGAIN || errno == EWOULDBLOCK;
        c.unsent.erase(0, static_cast<std::size_t>(sent));
    }
    return !c.closing;
}

}  // namespace gateway_bench
