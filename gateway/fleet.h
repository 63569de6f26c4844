// The controllers the gateway polls, each with its poller, found by name; the watch over the
// deadlines of their waiting writes; and the one switch that, when the gateway stops, ends
// every wait for a controller at once (the polls', the writes' and the probes').
#pragma once

#include <condition_variable>
#include <memory>
#include <mutex>
#include <string_view>
#include <thread>
#include <vector>

#include "client/unique_fd.h"
#include "gateway/addresses.h"
#include "gateway/controller_poller.h"
#include "gateway/poll_settings.h"

namespace gateway {

class fleet {
  public:
    fleet(const std::vector<controller_address>& controllers, poll_settings settings);
    ~fleet();
    fleet(const fleet&) = delete;
    fleet& operator=(const fleet&) = delete;
    // Starts the pollers, their first polls spread over one poll interval.
    void start();
    // Cancels every wait for a controller, stops the pollers (their waiting writes are
    // answered 503) and the watch. Any thread; more than once is harmless.
    void stop();

    // nullptr when no controller has that name.
    controller_poller* find(std::string_view name) const;
    const std::vector<std::unique_ptr<controller_poller>>& pollers() const { return pollers_; }
    // The settings of every poll; endpoint() gives the stop switch to a poll on request too.
    const poll_settings& settings() const { return settings_; }

  private:
    void watch_write_deadlines();

    ifc_client::unique_fd cancel_read_;
    ifc_client::unique_fd cancel_write_;
    poll_settings settings_;
    std::vector<std::unique_ptr<controller_poller>> pollers_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool queued_ = false;  // a write was queued since the watch last looked
    bool stopping_ = false;
    std::once_flag stopped_;
    std::thread watch_;
};

}  // namespace gateway
