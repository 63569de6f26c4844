// throttle: the request's bytes pass both ways at a number of bytes per second until it is
// over.
#include <sstream>

#include "proxy/faults/fault.h"
#include "proxy/rule_fields.h"

namespace proxy {

namespace {

class throttle_fault final : public fault_action {
  public:
    std::vector<std::string_view> fields() const override { return {"bytes_per_second"}; }

    void read(const rule_reader& in, rule& r) const override {
        if (!in.has("bytes_per_second")) reject("bytes_per_second", "required");
        r.bytes_per_second =
            in.number("bytes_per_second", 1, 1e9, false, "a number of bytes per second from 1");
    }

    std::string words(const rule& r) const override {
        std::ostringstream text;
        text << " to " << r.bytes_per_second << " bytes/s";
        return text.str();
    }

    void journal_fields(const fault_report& f, journal_line& entry) const override {
        entry["bytes_per_second"] = f.bytes_per_second;
    }

    void decide(active_fault& f, request_controls& relay) const override {
        relay.throttle(f.plan.rule_copy.bytes_per_second);
        f.report.applied = true;
        f.resolved = true;
    }
};

}  // namespace

const fault_action& faults::throttle() {
    static const throttle_fault action;
    return action;
}

}  // namespace proxy
