// refuse: new terminal connections to the proxy are refused for some seconds; the connection at
// hand goes on.
#include "proxy/faults/fault.h"
#include "proxy/rule_fields.h"

namespace proxy {

namespace {

class refuse_fault final : public fault_action {
  public:
    std::vector<std::string_view> fields() const override { return {"seconds"}; }

    void read(const rule_reader& in, rule& r) const override {
        if (!in.has("seconds")) reject("seconds", "required: how long to refuse");
        r.seconds =
            in.number("seconds", 0, max_seconds, true, "a number of seconds above 0, at most 3600");
    }

    std::string words(const rule& r) const override {
        return " new connections for " + seconds_words(r.seconds);
    }

    void journal_fields(const fault_report& f, journal_line& entry) const override {
        entry["seconds"] = f.seconds;
    }

    void decide(active_fault& f, request_controls& relay) const override {
        relay.refuse_connections(f.plan.index, f.plan.seconds);
        f.report.applied = true;
        f.resolved = true;
    }
};

}  // namespace

const fault_action& faults::refuse() {
    static const refuse_fault action;
    return action;
}

}  // namespace proxy
