// The gateway's mill when it runs with --state-dir: the mill's context (mill/mill_context.h)
// on the gateway's pollers. Every good poll gives the machine's drift (into the view the list,
// the snapshot and the metrics show) and its outside changes; every write of the API goes to
// the logbook with who made it, from where and why; the mill's reads and roll-out writes go
// through the controllers' pollers (poller_machine_access.h).
//
// Made after the fleet and before its start; the fleet is stopped before this goes.
#pragma once

#include <memory>
#include <string>

#include "gateway/fleet.h"
#include "gateway/mill/mill_context.h"
#include "gateway/poll_hooks.h"
#include "gateway/poller_machine_access.h"

namespace gateway {

class mill_wiring {
  public:
    mill_wiring(fleet& machines, mill::mill_options options);
    ~mill_wiring();
    mill_wiring(const mill_wiring&) = delete;
    mill_wiring& operator=(const mill_wiring&) = delete;

    mill::mill_context& context() { return context_; }
    // The machines as the mill reaches them: through their pollers.
    mill::machine_access& machines() { return access_; }
    const std::string& state_dir() const { return state_dir_; }
    int logbook_days() const { return logbook_days_; }
    // Shows the drift of each named controller at once, from its last poll: after an
    // assignment changed, so that the list does not wait for the next poll.
    void refresh_drift(const std::vector<std::string>& controllers);

  private:
    class hooks;

    fleet& machines_;
    const std::string state_dir_;
    const int logbook_days_;
    poller_machine_access access_;
    mill::mill_context context_;
    std::unique_ptr<hooks> hooks_;
};

// The drift as the views show it.
drift_summary summary_of(const mill::drift_status& drift);

}  // namespace gateway
