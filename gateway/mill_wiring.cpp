#include "gateway/mill_wiring.h"

#include "gateway/mill/snapshot_document.h"
#include "gateway/written_setting.h"

namespace gateway {

drift_summary summary_of(const mill::drift_status& drift) {
    return drift_summary{library_version_ref{drift.version.style, drift.version.number},
                         static_cast<int>(drift.values)};
}

class mill_wiring::hooks final : public poll_hooks {
  public:
    explicit hooks(mill::mill_context& mill) : mill_(mill) {}

    std::optional<drift_summary> polled(const controller_address& controller,
                                        const machine_snapshot& snapshot) override {
        const auto found =
            mill_.on_poll(controller.name, controller.text(), snapshot, state::now());
        if (!found.drift) return std::nullopt;
        return summary_of(*found.drift);
    }

    void wrote(const controller_address& controller, const write_request& request,
               const write_outcome& outcome) override {
        const state::actor by{request.who, request.address};
        if (outcome.written) {
            mill_.on_write(controller.name, outcome.written->before, outcome.written->after, by,
                           request.reason);
        } else if (outcome.result == write_result::unknown) {
            // The write may have landed: the next poll tells, and records what changed of
            // these keys as this write's.
            mill_.watch().begin_own_write(controller.name, keys_of(request),
                                          {by, request.reason, std::nullopt});
            mill_.watch().end_own_write(controller.name, nullptr);
        }
    }

  private:
    mill::mill_context& mill_;
};

mill_wiring::mill_wiring(fleet& machines, mill::mill_options options)
    : machines_(machines),
      state_dir_(options.state_dir),
      logbook_days_(options.logbook_days),
      access_(machines),
      context_(std::move(options), access_),
      hooks_(std::make_unique<hooks>(context_)) {
    for (const auto& poller : machines.pollers())
        poller->set_hooks(hooks_.get());
}

mill_wiring::~mill_wiring() = default;

void mill_wiring::refresh_drift(const std::vector<std::string>& controllers) {
    for (const std::string& name : controllers) {
        controller_poller* poller = machines_.find(name);
        if (poller == nullptr) continue;
        const controller_view view = poller->view();
        if (!context_.drift().assigned(name)) {
            poller->set_drift(std::nullopt);
        } else if (view.snapshot) {
            const auto doc = mill::document_of(*view.snapshot, {name, view.address.text(), {}}, "");
            if (const auto drift = context_.drift().check(name, doc)) {
                poller->set_drift(summary_of(*drift));
            }
        } else {
            const auto ref = *context_.drift().assigned(name);
            poller->set_drift(drift_summary{{ref.style, ref.number}, std::nullopt});
        }
    }
}

}  // namespace gateway
