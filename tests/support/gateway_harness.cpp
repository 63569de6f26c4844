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
                                 gateway::poll_settings polls, gateway::http_settings http)
    : fleet_(std::make_unique<gateway::fleet>(controllers, polls)) {
    gateway::configure_server(server_, http);
    gateway::add_routes(server_, *fleet_, http);
    const int port = server_.bind_to_any_port("127.0.0.1");
    if (port <= 0) throw std::runtime_error("the gateway cannot listen on loopback");
    port_ = static_cast<std::uint16_t>(port);
    thread_ = std::thread([this] { server_.listen_after_bind(); });
    if (!wait_until([this] { return server_.is_running(); }, 5s)) {
        throw std::runtime_error("the gateway's HTTP server did not start");
    }
    fleet_->start();
}

gateway_harness::~gateway_harness() {
    server_.stop();
    thread_.join();
    fleet_->stop();
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
