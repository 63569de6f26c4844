// The proxy's main loop: accepts terminals (one relaying thread each, at most
// --max-connections at once), reloads the rules on SIGHUP, refuses new connections while a rule
// says so, and stops on SIGINT or SIGTERM. Nothing a terminal or a rules file does ends it: a
// terminal it cannot take is turned away alone, and a reload that fails leaves the rules in
// force.
#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "proxy/program/services.h"

// Blocks SIGHUP, SIGINT and SIGTERM in the calling thread and in every thread it starts, so
// that the listener alone receives them. Call before any thread starts.
void block_proxy_signals();

class listener {
  public:
    // listen_fd: listening already, on settings.listen.
    listener(const proxy_settings& settings, int listen_fd, proxy::journal_writer& journal,
             diagnostics& diag, rules_holder& rules);
    ~listener();
    listener(const listener&) = delete;
    listener& operator=(const listener&) = delete;

    // Serves until SIGINT or SIGTERM; the exit status.
    int run();

  private:
    struct running;

    void accept_all();
    void start_session(int fd, const std::string& peer);
    void turn_away(int fd, const std::string& peer, const std::string& reason);
    void reap(bool all);
    void reload();
    void follow_refusal();
    void stop(const char* signal_name);
    void accept_failed(const std::string& error);

    const proxy_settings& settings_;
    int listen_fd_;
    int signal_fd_ = -1;
    int wake_fd_ = -1;
    int stop_fd_ = -1;
    proxy::journal_writer& journal_;
    diagnostics& diag_;
    rules_holder& rules_;
    refusal refusals_;
    long long connections_ = 0;
    bool refusing_ = false;
    bool told_relisten_failure_ = false;
    bool full_ = false;  // at --max-connections: said once until a terminal is taken again
    std::optional<std::chrono::steady_clock::time_point> last_accept_error_;
    long long unsaid_accept_errors_ = 0;
    std::vector<std::unique_ptr<running>> sessions_;
};
