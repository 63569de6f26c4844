// The controllers the gateway polls, each with its poller, found by name.
#pragma once

#include <memory>
#include <string_view>
#include <vector>

#include "gateway/addresses.h"
#include "gateway/controller_poller.h"
#include "gateway/poll_settings.h"

namespace gateway {

class fleet {
  public:
    fleet(const std::vector<controller_address>& controllers, poll_settings settings);
    // Starts the pollers, their first polls spread over one poll interval.
    void start();
    void stop();

    // nullptr when no controller has that name.
    controller_poller* find(std::string_view name) const;
    const std::vector<std::unique_ptr<controller_poller>>& pollers() const { return pollers_; }
    const poll_settings& settings() const { return settings_; }

  private:
    poll_settings settings_;
    std::vector<std::unique_ptr<controller_poller>> pollers_;
};

}  // namespace gateway
