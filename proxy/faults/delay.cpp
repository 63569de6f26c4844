// delay: the request waits in the proxy for some seconds, fixed or drawn from a range with the
// seed, before it goes on to the controller.
#include "proxy/faults/fault.h"
#include "proxy/rule_fields.h"

namespace proxy {

namespace {

class delay_fault final : public fault_action {
  public:
    std::vector<std::string_view> fields() const override { return {"seconds"}; }

    void read(const rule_reader& in, rule& r) const override {
        if (!in.has("seconds")) reject("seconds", "required: seconds, or [least, most]");
        const nlohmann::json& v = in.at("seconds");
        if (!v.is_array()) {
            r.seconds =
                in.number("seconds", 0, max_seconds, false, "a number of seconds from 0 to 3600");
            r.seconds_max = r.seconds;
            return;
        }
        constexpr std::string_view range_text = "[least, most] within 0 to 3600 seconds";
        if (v.size() != 2) reject_value("seconds", "[least, most]: two numbers", v);
        r.seconds = rule_reader::number_of(v[0], "seconds", 0, max_seconds, false, range_text);
        r.seconds_max = rule_reader::number_of(v[1], "seconds", 0, max_seconds, false, range_text);
        if (r.seconds_max < r.seconds) {
            reject_value("seconds", "[least, most] with least <= most", v);
        }
    }

    std::string words(const rule& r) const override {
        std::string text = " " + seconds_words(r.seconds);
        if (r.seconds_max > r.seconds) text += " to " + seconds_words(r.seconds_max);
        return text;
    }

    void journal_fields(const fault_report& f, journal_line& entry) const override {
        entry["seconds"] = f.seconds;
    }

    void decide(active_fault& f, request_controls& relay) const override {
        relay.hold(f.plan.seconds);
        f.report.applied = true;
        f.resolved = true;
    }
};

}  // namespace

const fault_action& faults::delay() {
    static const delay_fault action;
    return action;
}

}  // namespace proxy
