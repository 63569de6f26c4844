// What a poller tells the gateway's mill (mill_wiring.h), when the gateway runs with a state
// directory: every good poll, and every write of the API it made. Called on the poller's own
// thread, so a write is told before the next poll of the same controller.
#pragma once

#include <optional>

#include "gateway/addresses.h"
#include "gateway/drift_summary.h"
#include "gateway/snapshot.h"
#include "gateway/writes.h"

namespace gateway {

class poll_hooks {
  public:
    virtual ~poll_hooks() = default;

    // After every good poll: the machine's drift from its assigned version, none without one.
    virtual std::optional<drift_summary> polled(const controller_address& controller,
                                                const machine_snapshot& snapshot) = 0;
    // After every write of the API that reached the controller, with its outcome.
    virtual void wrote(const controller_address& controller, const write_request& request,
                       const write_outcome& outcome) = 0;
};

}  // namespace gateway
