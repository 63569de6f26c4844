#include "proxy/program/listener.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <iostream>
#include <memory>
#include <thread>

#include "protocol/protocol.h"
#include "proxy/byte_text.h"
#include "proxy/program/arguments.h"
#include "proxy/program/session.h"
#include "proxy/rules.h"

namespace {

using namespace std::chrono_literals;

// How often a listening socket that could not be opened again after a refusal is retried.
constexpr auto relisten_retry = 100ms;
// The pause after a failed accept.
constexpr auto accept_retry = 100ms;

sigset_t proxy_signals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGHUP);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    return set;
}

}  // namespace

struct listener::running {
    std::unique_ptr<session> relay;
    std::thread thread;
    std::atomic<bool> finished{false};
};

void block_proxy_signals() {
    const sigset_t set = proxy_signals();
    ::pthread_sigmask(SIG_BLOCK, &set, nullptr);
    // A journal on a pipe whose reader went away must not end the proxy; sockets are written
    // with MSG_NOSIGNAL.
    std::signal(SIGPIPE, SIG_IGN);
}

listener::listener(const proxy_settings& settings, int listen_fd, proxy::journal_writer& journal,
                   rules_holder& rules)
    : settings_(settings),
      listen_fd_(listen_fd),
      wake_fd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)),
      stop_fd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)),
      journal_(journal),
      rules_(rules),
      refusals_(wake_fd_) {
    const sigset_t signals = proxy_signals();
    signal_fd_ = ::signalfd(-1, &signals, SFD_CLOEXEC | SFD_NONBLOCK);
}

listener::~listener() {
    reap(true);
    for (const int fd : {listen_fd_, signal_fd_, wake_fd_, stop_fd_}) {
        if (fd >= 0) ::close(fd);
    }
}

int listener::run() {
    for (;;) {
        follow_refusal();
        int timeout = -1;
        if (const auto until = refusals_.until()) {
            const auto left =
                std::chrono::ceil<std::chrono::milliseconds>(*until - proxy::clock_type::now())
                    .count();
            timeout = static_cast<int>(std::max<long long>(left, 0));
        } else if (listen_fd_ < 0) {
            timeout = static_cast<int>(relisten_retry.count());
        }
        pollfd fds[3] = {
            {listen_fd_, POLLIN, 0},
            {signal_fd_, POLLIN, 0},
            {wake_fd_, POLLIN, 0},
        };
        if (::poll(fds, 3, timeout) < 0 && errno != EINTR) {
            std::cerr << "ifc-proxy: poll: " << std::strerror(errno) << '\n';
            return proxy_exit::failure;
        }
        if (fds[2].revents != 0) {
            std::uint64_t count = 0;
            [[maybe_unused]] const ssize_t n = ::read(wake_fd_, &count, sizeof count);
        }
        if (fds[1].revents != 0) {
            signalfd_siginfo info{};
            while (::read(signal_fd_, &info, sizeof info) == sizeof info) {
                if (info.ssi_signo == SIGHUP) {
                    reload();
                    continue;
                }
                const char* name = info.ssi_signo == SIGINT ? "SIGINT" : "SIGTERM";
                // Every relaying thread sees the stop, closes its connections and ends.
                const std::uint64_t one = 1;
                [[maybe_unused]] const ssize_t n = ::write(stop_fd_, &one, sizeof one);
                reap(true);
                if (journal_.enabled()) journal_.write(proxy::stop_line(name));
                return proxy_exit::ok;
            }
        }
        if (listen_fd_ >= 0 && fds[0].revents != 0) accept_all();
        reap(false);
    }
}

void listener::accept_all() {
    for (;;) {
        std::string peer;
        std::string error;
        const int fd = proxy_net::accept_from(listen_fd_, peer, error);
        if (fd < 0) {
            if (!error.empty()) {
                // Out of descriptors, say: the connection stays queued. A pause keeps the loop
                // from spinning on it while the connections at hand end.
                std::cerr << "ifc-proxy: " << error << '\n';
                std::this_thread::sleep_for(accept_retry);
            }
            return;
        }
        auto slot = std::make_unique<running>();
        const session_services services{settings_, journal_, rules_, refusals_, stop_fd_};
        slot->relay = std::make_unique<session>(services, fd, peer, ++connections_);
        running* r = slot.get();
        slot->thread = std::thread([r] {
            r->relay->run();
            r->finished = true;
        });
        sessions_.push_back(std::move(slot));
    }
}

void listener::reap(bool all) {
    for (auto it = sessions_.begin(); it != sessions_.end();) {
        if (all || (*it)->finished) {
            (*it)->thread.join();
            it = sessions_.erase(it);
        } else {
            ++it;
        }
    }
}

void listener::reload() {
    if (!settings_.rules_file) {
        std::cerr << "ifc-proxy: SIGHUP: no rules file to read again (start with --rules FILE)\n";
        return;
    }
    const std::string& file = *settings_.rules_file;
    proxy::parsed_rules parsed = proxy::load_rules(file);
    if (!parsed.ok()) {
        const std::size_t kept = rules_.current()->size();
        std::cerr << "ifc-proxy: reload refused: " << parsed.error << "; the "
                  << proxy::counted(static_cast<long long>(kept), "rule") << " in force "
                  << (kept == 1 ? "stays" : "stay") << "\n";
        if (journal_.enabled()) journal_.write(proxy::reload_line(file, 0, parsed.error, kept));
        return;
    }
    const std::size_t count = parsed.rules.size();
    rules_.replace(std::make_shared<proxy::rule_engine>(std::move(parsed.rules), settings_.seed));
    std::cerr << "ifc-proxy: reloaded " << proxy::counted(static_cast<long long>(count), "rule")
              << " from " << file << '\n';
    if (journal_.enabled()) journal_.write(proxy::reload_line(file, count, "", 0));
}

void listener::follow_refusal() {
    const auto until = refusals_.until();
    const auto now = proxy::clock_type::now();
    if (until && now < *until) {
        if (listen_fd_ >= 0) {
            // Without a listening socket the system refuses new connections itself; those
            // waiting to be accepted are reset.
            ::close(listen_fd_);
            listen_fd_ = -1;
            refusing_ = true;
        }
        refusals_.refused();
        return;
    }
    if (until) refusals_.clear();
    if (listen_fd_ >= 0) return;
    std::string error;
    listen_fd_ = proxy_net::listen_on(settings_.listen_address, protocol::listen_backlog, error);
    if (listen_fd_ < 0) {
        if (!told_relisten_failure_) {
            std::cerr << "ifc-proxy: cannot listen again on " << settings_.listen.text() << ": "
                      << error << "; trying every " << relisten_retry.count() << " ms\n";
            told_relisten_failure_ = true;
        }
        return;
    }
    told_relisten_failure_ = false;
    if (refusing_ && journal_.enabled()) journal_.write(proxy::listen_again_line());
    refusing_ = false;
}
