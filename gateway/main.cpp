// ifc-gateway: polls weft-insertion controllers over their request protocol and serves what it
// read as a web panel, a JSON API and Prometheus metrics. See docs/gateway.md.
#include <malloc.h>
#include <signal.h>

#include <atomic>
#include <cstdio>
#include <iostream>
#include <thread>

#include "gateway/fleet.h"
#include "gateway/http_api.h"
#include "gateway/http_server.h"
#include "gateway/journal.h"
#include "gateway/mill_wiring.h"
#include "gateway/options.h"

namespace {

// SIGINT and SIGTERM are taken by one thread that stops the gateway; every other thread (the
// pollers, the HTTP server's loop, the probes) inherits the blocked mask and never sees them.
sigset_t stop_signals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    return set;
}

// How long answers under way (a write's, now answered "stopping") get to reach their clients
// once the gateway stops.
constexpr std::chrono::milliseconds stop_grace{1000};

}  // namespace

int main(int argc, char** argv) {
    const auto parsed = gateway::parse_options(std::vector<std::string>(argv + 1, argv + argc));
    if (!parsed.settings) {
        (parsed.to_stderr ? std::cerr : std::cout) << parsed.output;
        return parsed.exit_status;
    }
    const gateway::options& settings = *parsed.settings;

    // An allocation arena per thread would keep what each poller and HTTP thread ever freed;
    // one arena serves the gateway's light load with a fraction of the memory.
    mallopt(M_ARENA_MAX, 1);

    const sigset_t signals = stop_signals();
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    signal(SIGPIPE, SIG_IGN);

    const gateway::http_settings http = settings.http_side();
    gateway::fleet machines(settings.controllers, settings.polls());
    // With a state directory: the library, drift, roll-outs and the logbook. A store that
    // cannot be used is said once on standard error, and once more when it can again.
    std::unique_ptr<gateway::mill_wiring> mill;
    if (!settings.state_dir.empty()) {
        gateway::mill::mill_options options{settings.state_dir, settings.logbook_days};
        options.on_health_change = [](const gateway::state::store_health& health) {
            std::cerr << (health.available()
                              ? std::string("ifc-gateway: the state is available again\n")
                              : "ifc-gateway: the state is unavailable: " + health.reason +
                                    " (the library, the logbook and the roll-outs wait; the "
                                    "polls go on)\n");
        };
        mill = std::make_unique<gateway::mill_wiring>(machines, std::move(options));
    }
    gateway::http_api api(machines, http, mill.get());
    gateway::http_server server(http, api.handlers());

    const std::string where = settings.listen.host + ":" + std::to_string(settings.listen.port);
    std::string why;
    if (!server.listen(settings.listen.host, settings.listen.port, why)) {
        std::cerr << "ifc-gateway: cannot listen on " << where << ": " << why
                  << " (the port is taken, or the address is not one of this host's)\n";
        return 2;
    }
    char poll_text[32];
    std::snprintf(poll_text, sizeof poll_text, "%.3g", settings.poll.count() / 1000.0);
    gateway::journal_line("ifc-gateway: listening on http://" + where + "/, " +
                          std::to_string(settings.controllers.size()) +
                          " controller(s), poll every " + poll_text + " s" +
                          (settings.read_only ? ", read-only" : "") +
                          (mill ? ", state in " + settings.state_dir : ""));

    // A stop is a stop: the listener closes, connections waiting for a request are closed,
    // every wait for a controller ends at once (a write under way is answered that the gateway
    // is stopping) and what is left to send gets stop_grace.
    std::thread signal_waiter([&] {
        int received = 0;
        sigwait(&signals, &received);
        server.stop(stop_grace);
        machines.stop();
        api.stop();
    });
    machines.start();
    server.run();
    signal_waiter.join();
    machines.stop();
    api.stop();
    gateway::journal_line("ifc-gateway: stopped");
    // Standard output may have no reader: the last lines get a moment, not the gateway's exit.
    gateway::journal_flush(std::chrono::milliseconds(500));
    return 0;
}
