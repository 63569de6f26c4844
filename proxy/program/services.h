// What every connection of the proxy shares: its settings, the journal, the current rules
// (replaced whole by a reload) and the listener's refusal of new connections.
#pragma once

#include <netinet/in.h>

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "proxy/journal.h"
#include "proxy/program/defaults.h"
#include "proxy/program/diagnostics.h"
#include "proxy/program/journal_writer.h"
#include "proxy/program/net.h"
#include "proxy/rule_engine.h"

struct proxy_settings {
    proxy_net::address listen = proxy_defaults::listen();
    proxy_net::address to = proxy_defaults::to();
    sockaddr_in listen_address{};  // listen, resolved
    sockaddr_in controller{};      // to, resolved
    std::size_t text_max = proxy_defaults::text_max;
    std::size_t max_connections = proxy_defaults::max_connections;
    std::uint64_t seed = 0;
    std::optional<std::string> rules_file;
};

// The rules in force. A session takes the current set at each decision; a reload puts a new
// set with counts from zero in its place.
class rules_holder {
  public:
    explicit rules_holder(std::shared_ptr<proxy::rule_engine> engine)
        : engine_(std::move(engine)) {}
    std::shared_ptr<proxy::rule_engine> current() const;
    void replace(std::shared_ptr<proxy::rule_engine> engine);

  private:
    mutable std::mutex mutex_;
    std::shared_ptr<proxy::rule_engine> engine_;
};

// A refusal of new terminal connections asked for by a rule; the listener carries it out.
class refusal {
  public:
    explicit refusal(int wake_fd) : wake_fd_(wake_fd) {}
    // Refuses until seconds from now (a longer refusal in force stays). Returns once the
    // listener has stopped listening, so that what the rule does next to the connection at
    // hand already meets a refusing proxy.
    void refuse_for(double seconds);
    // The end of the refusal in force, if any.
    std::optional<proxy::time_point> until() const;
    // The listener: it no longer listens (refused), or listens again (cleared).
    void refused();
    void clear();
    // The proxy stops: a refusal in progress waits for the listener no more.
    void stop();

  private:
    int wake_fd_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::optional<proxy::time_point> until_;
    bool refusing_ = false;
    bool stopping_ = false;
};

struct session_services {
    const proxy_settings& settings;
    proxy::journal_writer& journal;
    diagnostics& diag;
    rules_holder& rules;
    refusal& refusals;
    int stop_fd;  // readable once the proxy stops
};
