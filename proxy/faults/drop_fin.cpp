// drop_fin: the controller's FIN of a PUT never reaches the terminal; the connection goes on.
#include "proxy/faults/fault.h"
#include "proxy/rule_fields.h"

namespace proxy {

namespace {

class drop_fin_fault final : public fault_action {
  public:
    std::vector<std::string_view> fields() const override { return {}; }

    void read(const rule_reader& /*in*/, rule& r) const override {
        need_kind(r, "action", "drop_fin", {request_kind::put});
    }

    std::string words(const rule& /*r*/) const override { return ""; }

    void journal_fields(const fault_report& /*f*/, journal_line& /*entry*/) const override {}

    // It stays at work until the request is over, so that a FIN in pieces is dropped whole.
    void act(active_fault& f, fragment_controls& run) const override {
        if (run.from() != side::controller || run.what().what != piece::fin) return;
        run.drop();
        f.report.applied = true;
    }

    std::string missed(const rule& /*r*/, const request_record& /*record*/) const override {
        return "the request had no FIN";
    }
};

}  // namespace

const fault_action& faults::drop_fin() {
    static const drop_fin_fault action;
    return action;
}

}  // namespace proxy
