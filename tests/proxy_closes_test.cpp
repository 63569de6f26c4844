// The proxy passes every kind of end on as it came: a reset as a reset, a close as a close, a
// half-close as a half-close, from either side. Each case runs once straight at the peer and
// once through the proxy, and both must see what the case expects. The peer is a real server
// where it shows the case, else a small fake peer that ends its side as the case says.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <thread>

#include "client/unique_fd.h"
#include "proxy/byte_text.h"
#include "tests/support/loopback.h"
#include "tests/support/proxy_process.h"
#include "tests/support/server_process.h"
#include "tests/support/wire.h"

namespace {

using namespace std::chrono_literals;
using ifc_client::unique_fd;
using test_support::header;

// ---------------------------------------------------------------------------------------
// One end of a connection, seen from a raw socket

unique_fd connect_to(std::uint16_t port) {
    unique_fd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(port);
    if (::connect(fd.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) fd.reset();
    return fd;
}

void send_text(int fd, std::string_view bytes) {
    ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
}

// Closes with a reset, as a program that crashed.
void abort_connection(unique_fd& fd) {
    const linger reset_on_close{1, 0};
    ::setsockopt(fd.get(), SOL_SOCKET, SO_LINGER, &reset_on_close, sizeof reset_on_close);
    fd.reset();
}

// What arrives until the other side ends its stream, at most within limit: the bytes, then
// "close", "reset" or "still open".
std::string read_to_end(int fd, std::chrono::milliseconds limit = 3s) {
    std::string got;
    const auto end = std::chrono::steady_clock::now() + limit;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            end - std::chrono::steady_clock::now());
        pollfd pfd{fd, POLLIN, 0};
        if (left.count() <= 0 || ::poll(&pfd, 1, static_cast<int>(left.count())) <= 0) {
            return "got " + proxy::quoted(got) + ", still open";
        }
        char buffer[4096];
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n > 0) {
            got.append(buffer, static_cast<std::size_t>(n));
        } else if (n == 0) {
            return "got " + proxy::quoted(got) + ", then close";
        } else if (errno != EINTR) {
            return "got " + proxy::quoted(got) + (errno == ECONNRESET ? ", then reset" : ", error");
        }
    }
}

// Sends a byte now and then until the connection refuses it (the other side reset it), at most
// for a second.
std::string send_until_refused(int fd) {
    for (int i = 0; i < 50; ++i) {
        if (::send(fd, "x", 1, MSG_NOSIGNAL) < 0) return "refused";
        std::this_thread::sleep_for(20ms);
    }
    return "accepted";
}

// ---------------------------------------------------------------------------------------
// The cases

using terminal_script = std::function<std::string(unique_fd&)>;
using peer_script = std::function<std::string(unique_fd&)>;

struct close_case {
    const char* name;
    terminal_script terminal;
    std::string terminal_sees;
    peer_script peer;  // none: the real server is the peer
    std::string peer_sees;
};

void PrintTo(const close_case& c, std::ostream* os) {
    *os << c.name;
}

const close_case close_cases[] = {
    // The real server.
    {"disconnect_then_more_bytes",
     [](unique_fd& t) {
         send_text(t.get(), header("DISCONNECT") + "more");
         return read_to_end(t.get());
     },
     "got \"\", then reset",
     {},
     ""},
    {"unknown_header_then_more_bytes",
     [](unique_fd& t) {
         send_text(t.get(), header("HELLO") + "more");
         return read_to_end(t.get());
     },
     "got \"\", then reset",
     {},
     ""},
    {"disconnect",
     [](unique_fd& t) {
         send_text(t.get(), header("DISCONNECT"));
         return read_to_end(t.get());
     },
     "got \"\", then close",
     {},
     ""},
    {"half_close_after_a_get_header",
     [](unique_fd& t) {
         send_text(t.get(), test_support::get_header("IFC_get_stat"));
         ::shutdown(t.get(), SHUT_WR);
         return read_to_end(t.get());
     },
     "got \"LEN0000000025\", then close",
     {},
     ""},
    {"bytes_after_the_controller_closed",
     [](unique_fd& t) {
         send_text(t.get(), header("DISCONNECT"));
         return read_to_end(t.get()) + "; " + send_until_refused(t.get());
     },
     "got \"\", then close; refused",
     {},
     ""},
    // A fake peer in the controller's place.
    {"controller_resets", [](unique_fd& t) { return read_to_end(t.get()); },
     "got \"bye\", then reset",
     [](unique_fd& p) {
         send_text(p.get(), "bye");
         std::this_thread::sleep_for(100ms);
         abort_connection(p);
         return std::string();
     },
     ""},
    {"controller_closes", [](unique_fd& t) { return read_to_end(t.get()); },
     "got \"bye\", then close",
     [](unique_fd& p) {
         send_text(p.get(), "bye");
         p.reset();
         return std::string();
     },
     ""},
    {"controller_half_closes",
     [](unique_fd& t) {
         const std::string seen = read_to_end(t.get());
         send_text(t.get(), "after");
         ::shutdown(t.get(), SHUT_WR);
         return seen;
     },
     "got \"bye\", then close",
     [](unique_fd& p) {
         send_text(p.get(), "bye");
         ::shutdown(p.get(), SHUT_WR);
         return read_to_end(p.get());
     },
     "got \"after\", then close"},
    {"controller_resets_after_its_half_close",
     [](unique_fd& t) {
         const std::string seen = read_to_end(t.get());
         send_text(t.get(), "!");
         return seen + "; " + send_until_refused(t.get());
     },
     "got \"\", then close; refused",
     [](unique_fd& p) {
         ::shutdown(p.get(), SHUT_WR);
         char byte = 0;
         pollfd pfd{p.get(), POLLIN, 0};
         if (::poll(&pfd, 1, 3000) > 0) ::recv(p.get(), &byte, 1, 0);
         abort_connection(p);
         return std::string(1, byte);
     },
     "!"},
    {"terminal_resets",
     [](unique_fd& t) {
         send_text(t.get(), "abc");
         std::this_thread::sleep_for(100ms);
         abort_connection(t);
         return std::string();
     },
     "", [](unique_fd& p) { return read_to_end(p.get()); }, "got \"abc\", then reset"},
    {"terminal_closes",
     [](unique_fd& t) {
         send_text(t.get(), "abc");
         t.reset();
         return std::string();
     },
     "", [](unique_fd& p) { return read_to_end(p.get()); }, "got \"abc\", then close"},
    {"terminal_half_closes",
     [](unique_fd& t) {
         send_text(t.get(), "abc");
         ::shutdown(t.get(), SHUT_WR);
         return read_to_end(t.get());
     },
     "got \"reply\", then close",
     [](unique_fd& p) {
         const std::string seen = read_to_end(p.get());
         send_text(p.get(), "reply");
         return seen;
     },
     "got \"abc\", then close"},
    {"terminal_resets_after_its_half_close",
     [](unique_fd& t) {
         ::shutdown(t.get(), SHUT_WR);
         std::this_thread::sleep_for(200ms);
         abort_connection(t);
         return std::string();
     },
     "", [](unique_fd& p) { return read_to_end(p.get()) + "; " + send_until_refused(p.get()); },
     "got \"\", then close; refused"},
};

// ---------------------------------------------------------------------------------------
// The peers, straight and through a proxy

// Accepts one connection on a listening socket and runs the peer's script on it, in a thread.
class fake_peer_run {
  public:
    fake_peer_run(int listen_fd, const peer_script& script)
        : thread_([this, listen_fd, &script] {
              pollfd pfd{listen_fd, POLLIN, 0};
              if (::poll(&pfd, 1, 5000) <= 0) return;
              unique_fd peer(::accept4(listen_fd, nullptr, nullptr, SOCK_CLOEXEC));
              if (peer) seen_ = script(peer);
          }) {}
    // What the peer saw, once its script is over.
    std::string seen() {
        thread_.join();
        return seen_;
    }

  private:
    std::string seen_;
    std::thread thread_;
};

class Closes : public testing::TestWithParam<close_case> {
  protected:
    static void SetUpTestSuite() {
        server_ = std::make_unique<test_support::server_process>();
        server_proxy_ = std::make_unique<test_support::proxy_process>(server_->port());
        fake_ =
            std::make_unique<test_support::loopback_listener>(test_support::listen_on_loopback());
        fake_proxy_ = std::make_unique<test_support::proxy_process>(fake_->port);
    }
    static void TearDownTestSuite() {
        fake_proxy_.reset();
        fake_.reset();
        server_proxy_.reset();
        server_.reset();
    }

    // What the terminal and the peer saw, with the terminal connected to port.
    static std::pair<std::string, std::string> run(const close_case& c, std::uint16_t port) {
        std::unique_ptr<fake_peer_run> peer;
        if (c.peer) peer = std::make_unique<fake_peer_run>(fake_->fd.get(), c.peer);
        unique_fd terminal = connect_to(port);
        EXPECT_TRUE(terminal);
        const std::string terminal_saw = c.terminal(terminal);
        return {terminal_saw, peer ? peer->seen() : std::string()};
    }

    static std::unique_ptr<test_support::server_process> server_;
    static std::unique_ptr<test_support::proxy_process> server_proxy_;
    static std::unique_ptr<test_support::loopback_listener> fake_;
    static std::unique_ptr<test_support::proxy_process> fake_proxy_;
};

std::unique_ptr<test_support::server_process> Closes::server_;
std::unique_ptr<test_support::proxy_process> Closes::server_proxy_;
std::unique_ptr<test_support::loopback_listener> Closes::fake_;
std::unique_ptr<test_support::proxy_process> Closes::fake_proxy_;

TEST_P(Closes, ReachTheOtherSideAsTheyCame) {
    const close_case& c = GetParam();
    const std::uint16_t direct = c.peer ? fake_->port : server_->port();
    const std::uint16_t proxied = c.peer ? fake_proxy_->port() : server_proxy_->port();
    const auto straight = run(c, direct);
    EXPECT_EQ(straight.first, c.terminal_sees) << "straight at the peer";
    EXPECT_EQ(straight.second, c.peer_sees) << "straight at the peer";
    const auto through = run(c, proxied);
    EXPECT_EQ(through.first, c.terminal_sees) << "through the proxy";
    EXPECT_EQ(through.second, c.peer_sees) << "through the proxy";
}

INSTANTIATE_TEST_SUITE_P(Proxy, Closes, testing::ValuesIn(close_cases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
