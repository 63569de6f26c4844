#include "tests/support/gateway_harness.h"

#include <stdexcept>

#include "tests/support/wait.h"

namespace test_support {

using namespace std::chrono_literals;

gateway::poll_settings fast_polls() {
    return gateway::poll_settings{200ms, 1000ms, 1500ms};
}

gateway::controller_address local_controller(std::string name, std::uint16_t port) {
    return gateway::controller_address{std::move(name), "127.0.0.1", port};
}

gateway_harness::gateway_harness(std::vector<gateway::controller_address> controllers,
                                 gateway::poll_settings polls, gateway::http_settings http,
                                 std::string state_dir)
    : fleet_(std::make_unique<gateway::fleet>(controllers, polls)),
      mill_(state_dir.empty() ? nullptr
                              : std::make_unique<gateway::mill_wiring>(
                                    *fleet_, gateway::mill::mill_options{state_dir})),
      api_(std::make_unique<gateway::http_api>(*fleet_, http, mill_.get())),
      server_(std::make_unique<gateway::http_server>(http, api_->handlers())) {
    std::string why;
    if (!server_->listen("127.0.0.1", 0, why)) {
        throw std::runtime_error("the gateway cannot listen on loopback: " + why);
    }
    port_ = server_->port();
    thread_ = std::thread([this] { server_->run(); });
    fleet_->start();
}

gateway_harness::~gateway_harness() {
    // As the executable stops: the server first, then the waits for controllers, then the
    // probes; the server object goes last, after every answer has been handed to it.
    server_->stop(std::chrono::milliseconds(500));
    fleet_->stop();
    api_->stop();
    thread_.join();
}

httplib::Client gateway_harness::client() const {
    httplib::Client client("127.0.0.1", port_);
    client.set_read_timeout(15, 0);
    client.set_connection_timeout(5, 0);
    return client;
}

bool gateway_harness::wait_polled(std::chrono::milliseconds limit) const {
    return wait_until(
        [this] {
            for (const auto& poller : fleet_->pollers()) {
                if (!poller->view().polled) return false;
            }
            return true;
        },
        limit);
}

bool gateway_harness::wait_reachable(const std::string& name, bool reachable,
                                     std::chrono::milliseconds limit) const {
    const auto* poller = fleet_->find(name);
    if (!poller) return false;
    return wait_until(
        [&] {
            const auto view = poller->view();
            return view.polled && view.reachable == reachable;
        },
        limit);
}

}  // namespace test_support
