// Machines reached directly over the wire, each on a connection of its own per call: for tests
// and benchmarks against real servers, and for tools without a gateway's pollers.
#pragma once

#include <map>

#include "client/connection.h"
#include "gateway/mill/machine_access.h"

namespace gateway::mill {

class direct_machine_access final : public machine_access {
  public:
    explicit direct_machine_access(std::map<std::string, ifc_client::endpoint> machines)
        : machines_(std::move(machines)) {}

    bool knows(const std::string& controller) const override {
        return machines_.contains(controller);
    }
    ifc_client::result<ifc_client::settings_document> read(const std::string& controller) override;
    ifc_client::result<ifc_client::apply_report> apply(
        const std::string& controller, const ifc_client::settings_document& wanted,
        const ifc_client::apply_options& options) override;

  private:
    ifc_client::result<ifc_client::endpoint> endpoint_of(const std::string& controller) const;

    const std::map<std::string, ifc_client::endpoint> machines_;
};

}  // namespace gateway::mill
