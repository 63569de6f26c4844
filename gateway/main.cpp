// ifc-gateway: polls weft-insertion controllers over their request protocol and serves what it
// read as a web panel, a JSON API and Prometheus metrics. See docs/gateway.md.
#include <malloc.h>
#include <signal.h>

#include <atomic>
#include <cstdio>
#include <iostream>
#include <thread>

#include <httplib.h>

#include "gateway/fleet.h"
#include "gateway/http_api.h"
#include "gateway/options.h"

namespace {

// SIGINT and SIGTERM are taken by one thread that stops the HTTP server; every other thread
// (the pollers, the HTTP workers) inherits the blocked mask and never sees them.
sigset_t stop_signals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    return set;
}

}  // namespace

int main(int argc, char** argv) {
    const auto parsed = gateway::parse_options(std::vector<std::string>(argv + 1, argv + argc));
    if (!parsed.settings) {
        (parsed.to_stderr ? std::cerr : std::cout) << parsed.output;
        return parsed.exit_status;
    }
    const gateway::options& settings = *parsed.settings;

    // An allocation arena per thread would keep what each poller and HTTP worker ever freed;
    // one arena serves the gateway's light load with a fraction of the memory.
    mallopt(M_ARENA_MAX, 1);

    const sigset_t signals = stop_signals();
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    signal(SIGPIPE, SIG_IGN);

    const gateway::http_settings http{settings.read_only, settings.token, settings.http_threads,
                                      settings.listen.loopback()};
    httplib::Server server;
    gateway::configure_server(server, http);
    gateway::fleet machines(
        settings.controllers,
        gateway::poll_settings{settings.poll, settings.timeout, settings.deadline});
    gateway::add_routes(server, machines, http);

    const std::string where = settings.listen.host + ":" + std::to_string(settings.listen.port);
    if (!server.bind_to_port(settings.listen.host, settings.listen.port)) {
        std::cerr << "ifc-gateway: cannot listen on " << where
                  << " (the port is taken, or the address is not one of this host's)\n";
        return 2;
    }
    std::printf("ifc-gateway: listening on http://%s/, %zu controller(s), poll every %.3g s%s\n",
                where.c_str(), settings.controllers.size(), settings.poll.count() / 1000.0,
                settings.read_only ? ", read-only" : "");
    std::fflush(stdout);

    std::atomic<bool> signalled{false};
    std::thread signal_waiter([&server, &signalled, signals] {
        int received = 0;
        sigwait(&signals, &received);
        signalled = true;
        server.stop();
    });
    machines.start();
    server.listen_after_bind();
    machines.stop();
    const bool stopped_by_signal = signalled;
    // The server ended for another reason: wake the waiter, which is still in sigwait.
    if (!stopped_by_signal) pthread_kill(signal_waiter.native_handle(), SIGTERM);
    signal_waiter.join();
    if (!stopped_by_signal) {
        std::cerr << "ifc-gateway: the listener on " << where << " failed\n";
        return 2;
    }
    std::printf("ifc-gateway: stopped\n");
    return 0;
}
