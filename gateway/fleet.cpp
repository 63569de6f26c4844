#include "gateway/fleet.h"

#include <cstdint>

namespace gateway {

fleet::fleet(const std::vector<controller_address>& controllers, poll_settings settings)
    : settings_(settings) {
    for (const auto& address : controllers) {
        pollers_.push_back(std::make_unique<controller_poller>(address, settings));
    }
}

// The first polls are spread over one interval: each poll is then one interval after the last
// of the same controller, so the polls of a mill stay spread out rather than all starting at
// the same moment, every interval.
void fleet::start() {
    const auto count = static_cast<std::int64_t>(pollers_.size());
    for (std::int64_t i = 0; i < count; ++i) {
        pollers_[static_cast<std::size_t>(i)]->start(settings_.interval * i / count);
    }
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
