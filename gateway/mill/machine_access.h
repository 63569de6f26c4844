// How the mill reaches a machine: read its settings, and apply a document with
// client/document_apply.h's apply (read first, write only what differs, read back, restore on
// failure). The roll-outs use nothing else, so the gateway can route every call through the
// controller's single client slot (its poller), and tests and benchmarks can reach real
// servers directly (direct_machine_access.h).
#pragma once

#include <string>

#include "client/document_apply.h"
#include "client/result.h"
#include "client/settings_document.h"

namespace gateway::mill {

class machine_access {
  public:
    virtual ~machine_access() = default;

    // true when controller names a machine this access can reach.
    virtual bool knows(const std::string& controller) const = 0;
    // The machine's settings as it holds them now.
    virtual ifc_client::result<ifc_client::settings_document> read(
        const std::string& controller) = 0;
    // apply_document on the machine (options.dry_run: read and plan only). Called from the
    // roll-outs' threads, several machines at a time, never two calls for one machine at once.
    virtual ifc_client::result<ifc_client::apply_report> apply(
        const std::string& controller, const ifc_client::settings_document& wanted,
        const ifc_client::apply_options& options) = 0;
};

}  // namespace gateway::mill
