// The proxy's main loop: accepts terminals (one relaying thread each), reloads the rules on
// SIGHUP, refuses new connections while a rule says so, and stops on SIGINT or SIGTERM.
#pragma once

#include <string>

#include "proxy/journal.h"
#include "proxy/program/services.h"

// Blocks SIGHUP, SIGINT and SIGTERM in the calling thread and in every thread it starts, so
// that the listener alone receives them. Call before any thread starts.
void block_proxy_signals();

class listener {
  public:
    // listen_fd: listening already, on settings.listen.
    listener(const proxy_settings& settings, int listen_fd, proxy::journal_writer& journal,
             rules_holder& rules);
    ~listener();
    listener(const listener&) = delete;
    listener& operator=(const listener&) = delete;

    // Serves until SIGINT or SIGTERM; the exit status.
    int run();

  private:
    struct running;

    void accept_all();
    void reap(bool all);
    void reload();
    void follow_refusal();

    const proxy_settings& settings_;
    int listen_fd_;
    int signal_fd_ = -1;
    int wake_fd_ = -1;
    int stop_fd_ = -1;
    proxy::journal_writer& journal_;
    rules_holder& rules_;
    refusal refusals_;
    long long connections_ = 0;
    bool refusing_ = false;
    bool told_relisten_failure_ = false;
    std::vector<std::unique_ptr<running>> sessions_;
};
