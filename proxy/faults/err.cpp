// err: a PUT is answered ERR! by the proxy in place of the controller's first NEXT; the
// controller never sees the request and the connection goes on.
#include "proxy/faults/fault.h"
#include "proxy/rule_fields.h"

namespace proxy {

namespace {

class err_fault final : public fault_action {
  public:
    std::vector<std::string_view> fields() const override { return {}; }

    void read(const rule_reader& /*in*/, rule& r) const override {
        need_kind(r, "action", "err", {request_kind::put});
        if (!r.command.empty()) {
            reject("command",
                   "none with action err: ERR! takes the place of the first NEXT, before the "
                   "payload that names the command has come");
        }
    }

    std::string words(const rule& /*r*/) const override { return ""; }

    void journal_fields(const fault_report& /*f*/, journal_line& /*entry*/) const override {}

    // ERR! answers the header, so the header must not have gone on.
    bool decided_at_header() const override { return true; }

    void decide(active_fault& f, request_controls& relay) const override {
        if (relay.header_relayed()) {
            f.report.missed =
                "the header came in pieces, and its first bytes had been relayed before it was "
                "complete";
        } else {
            relay.answer_err(f.plan.index);
            f.report.applied = true;
        }
        f.resolved = true;
    }
};

}  // namespace

const fault_action& faults::err() {
    static const err_fault action;
    return action;
}

}  // namespace proxy
