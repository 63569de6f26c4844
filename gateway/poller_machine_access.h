// The mill's way to the machines inside the gateway: every read and apply of a roll-out or a
// library save is queued to the controller's poller, as the API's writes are, and runs on its
// thread between polls, in the controller's single client slot. So nothing else talks to a
// controller meanwhile, and never two calls for one controller at once.
#pragma once

#include "gateway/fleet.h"
#include "gateway/mill/machine_access.h"

namespace gateway {

class poller_machine_access final : public mill::machine_access {
  public:
    explicit poller_machine_access(fleet& machines) : machines_(machines) {}

    bool knows(const std::string& controller) const override {
        return machines_.find(controller) != nullptr;
    }
    // Each waits for its turn in the controller's queue: at most the write deadline for the
    // turn (then errc::timeout), and the call's own time after it.
    ifc_client::result<ifc_client::settings_document> read(const std::string& controller) override;
    ifc_client::result<ifc_client::apply_report> apply(
        const std::string& controller, const ifc_client::settings_document& wanted,
        const ifc_client::apply_options& options) override;

  private:
    fleet& machines_;
};

}  // namespace gateway
