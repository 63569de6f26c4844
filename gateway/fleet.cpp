#include "gateway/fleet.h"

namespace gateway {

fleet::fleet(const std::vector<controller_address>& controllers, poll_settings settings)
    : settings_(settings) {
    for (const auto& address : controllers) {
        pollers_.push_back(std::make_unique<controller_poller>(address, settings));
    }
}

void fleet::start() {
    for (auto& poller : pollers_)
        poller->start();
}

void fleet::stop() {
    for (auto& poller : pollers_)
        poller->stop();
}

controller_poller* fleet::find(std::string_view name) const {
    for (const auto& poller : pollers_) {
        if (poller->address().name == name) return poller.get();
    }
    return nullptr;
}

}  // namespace gateway
