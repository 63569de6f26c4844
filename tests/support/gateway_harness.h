// The gateway in the test's own process: its pollers and its HTTP server on a loopback port
// the kernel chose, stopped and joined when the harness goes. Start the controllers (forked
// servers) before the harness: a fork while the gateway's threads run could copy a held lock.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <httplib.h>

#include "gateway/fleet.h"
#include "gateway/http_api.h"
#include "gateway/http_server.h"
#include "gateway/mill_wiring.h"

namespace test_support {

// Quick polls and short waits, for tests.
gateway::poll_settings fast_polls();

class gateway_harness {
  public:
    // state_dir: the gateway keeps its state there (--state-dir); empty: none.
    gateway_harness(std::vector<gateway::controller_address> controllers,
                    gateway::poll_settings polls = fast_polls(), gateway::http_settings http = {},
                    std::string state_dir = {});
    ~gateway_harness();
    gateway_harness(const gateway_harness&) = delete;
    gateway_harness& operator=(const gateway_harness&) = delete;

    std::uint16_t port() const { return port_; }
    gateway::fleet& machines() { return *fleet_; }
    gateway::http_server& server() { return *server_; }
    // nullptr without a state directory.
    gateway::mill_wiring* mill() { return mill_.get(); }
    httplib::Client client() const;

    // Waits, bounded, until every controller has been polled at least once.
    bool wait_polled(std::chrono::milliseconds limit = std::chrono::seconds(10)) const;
    // Waits, bounded, until the named controller is reachable (or not).
    bool wait_reachable(const std::string& name, bool reachable,
                        std::chrono::milliseconds limit = std::chrono::seconds(10)) const;

  private:
    std::unique_ptr<gateway::fleet> fleet_;
    std::unique_ptr<gateway::mill_wiring> mill_;
    std::unique_ptr<gateway::http_api> api_;
    std::unique_ptr<gateway::http_server> server_;
    std::uint16_t port_ = 0;
    std::thread thread_;
};

// A controller of the gateway named name at 127.0.0.1:port.
gateway::controller_address local_controller(std::string name, std::uint16_t port);

}  // namespace test_support
