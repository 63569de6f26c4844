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
#include <exception>
#include <memory>
#include <system_error>
#include <thread>

#include "protocol/protocol.h"
#include "proxy/byte_text.h"
#include "proxy/program/arguments.h"
#include "proxy/program/session.h"
#include "proxy/rules.h"
#include "proxy/rules_reload.h"

namespace {

using namespace std::chrono_literals;

// How often a listening socket that could not be opened again after a refusal is retried.
constexpr auto relisten_retry = 100ms;
// The pause after a failed accept.
constexpr auto accept_retry = 100ms;
// A failed accept is said at most once in this time (with the count of those not said).
constexpr auto accept_error_gap = 1s;

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
                   diagnostics& diag, rules_holder& rules)
    : settings_(settings),
      listen_fd_(listen_fd),
      wake_fd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)),
      stop_fd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)),
      journal_(journal),
      diag_(diag),
      rules_(rules),
      refusals_(wake_fd_) {
    const sigset_t signals = proxy_signals();
    signal_fd_ = ::signalfd(-1, &signals, SFD_CLOEXEC | SFD_NONBLOCK);
}

listener::~listener() {
    // Left by a failure of the proxy's own: the relaying threads must see a stop before they
    // can be waited for.
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(stop_fd_, &one, sizeof one);
    refusals_.stop();
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
            diag_.say(std::string("poll: ") + std::strerror(errno));
            stop("a failure of poll");
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
                stop(info.ssi_signo == SIGINT ? "SIGINT" : "SIGTERM");
                return proxy_exit::ok;
            }
        }
        if (listen_fd_ >= 0 && fds[0].revents != 0) accept_all();
        reap(false);
    }
}

void listener::stop(const char* signal_name) {
    // Every relaying thread sees the stop, closes its connections and ends; a refusal in
    // progress waits for the listener no more.
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(stop_fd_, &one, sizeof one);
    refusals_.stop();
    reap(true);
    if (journal_.enabled()) journal_.write(proxy::stop_line(signal_name));
}

void listener::accept_all() {
    for (;;) {
        std::string peer;
        std::string error;
        const int fd = proxy_net::accept_from(listen_fd_, peer, error);
        if (fd < 0) {
            if (!error.empty()) accept_failed(error);
            return;
        }
        reap(false);
        if (sessions_.size() >= settings_.max_connections) {
            if (!full_) {
                diag_.say(std::to_string(sessions_.size()) +
                          " terminals connected, as many as --max-connections allows: new ones "
                          "are turned away until one leaves");
                full_ = true;
            }
            turn_away(fd, peer,
                      std::to_string(sessions_.size()) +
                          " connections, as many as --max-connections allows");
            continue;
        }
        full_ = false;
        start_session(fd, peer);
    }
}

void listener::accept_failed(const std::string& error) {
    // Out of descriptors, say: the connection stays queued. A pause keeps the loop from
    // spinning on it while the connections at hand end.
    const auto now = std::chrono::steady_clock::now();
    if (!last_accept_error_ || now - *last_accept_error_ >= accept_error_gap) {
        diag_.say(error + (unsaid_accept_errors_ > 0
                               ? " (and " + std::to_string(unsaid_accept_errors_) +
                                     " times more since the last time this was said)"
                               : std::string()));
        last_accept_error_ = now;
        unsaid_accept_errors_ = 0;
    } else {
        ++unsaid_accept_errors_;
    }
    std::this_thread::sleep_for(accept_retry);
}

void listener::start_session(int fd, const std::string& peer) {
    // No memory or no thread for this terminal: it alone is turned away.
    std::unique_ptr<running> slot;
    try {
        slot = std::make_unique<running>();
        const session_services services{settings_, journal_, diag_, rules_, refusals_, stop_fd_};
        slot->relay = std::make_unique<session>(services, fd, peer, connections_ + 1);
    } catch (const std::exception& e) {
        turn_away(fd, peer, std::string("no memory for it: ") + e.what());
        return;
    }
    try {
        sessions_.reserve(sessions_.size() + 1);
        running* r = slot.get();
        slot->thread = std::thread([r] {
            r->relay->run_guarded();
            r->finished = true;
        });
    } catch (const std::exception& e) {
        turn_away(slot->relay->release_terminal(), peer,
                  std::string("no thread for it: ") + e.what());
        return;
    }
    sessions_.push_back(std::move(slot));
    ++connections_;
}

void listener::turn_away(int fd, const std::string& peer, const std::string& reason) {
    // A reset, as from a refused connection: the terminal learns at once.
    if (fd >= 0) proxy_net::close_with_reset(fd);
    if (journal_.enabled()) journal_.write(proxy::turned_away_line(peer, reason));
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
        diag_.say("SIGHUP: no rules file to read again (start with --rules FILE)");
        return;
    }
    const std::string& file = *settings_.rules_file;
    proxy::reload_result r;
    try {
        r = proxy::reload_rules(file, proxy::load_rules(file), rules_.current()->size(),
                                settings_.seed);
    } catch (const std::exception& e) {
        r = proxy::reload_rules(file, proxy::parsed_rules{{}, e.what()}, rules_.current()->size(),
                                settings_.seed);
    }
    if (r.engine) rules_.replace(std::move(r.engine));
    if (!r.message.empty()) diag_.say(r.message);
    if (journal_.enabled() && !r.line.is_null()) journal_.write(r.line);
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
            diag_.say("cannot listen again on " + settings_.listen.text() + ": " + error +
                      "; trying every " + std::to_string(relisten_retry.count()) + " ms");
            told_relisten_failure_ = true;
        }
        return;
    }
    told_relisten_failure_ = false;
    if (refusing_ && journal_.enabled()) journal_.write(proxy::listen_again_line());
    refusing_ = false;
}
