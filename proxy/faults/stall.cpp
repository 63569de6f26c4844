// stall: at a point of the exchange nothing moves either way for some seconds.
#include "proxy/faults/fault.h"
#include "proxy/faults/point.h"
#include "proxy/rule_fields.h"

namespace proxy {

namespace {

class stall_fault final : public fault_action {
  public:
    std::vector<std::string_view> fields() const override { return {"at", "chunk", "seconds"}; }

    void read(const rule_reader& in, rule& r) const override {
        read_point(in, r);
        if (!in.has("seconds")) reject("seconds", "required: how long nothing is forwarded");
        r.seconds =
            in.number("seconds", 0, max_seconds, true, "a number of seconds above 0, at most 3600");
    }

    std::string words(const rule& r) const override {
        return " " + seconds_words(r.seconds) + point_words(r);
    }

    void journal_fields(const fault_report& f, journal_line& entry) const override {
        put_point(f, entry);
        entry["seconds"] = f.seconds;
    }

    void act(active_fault& f, fragment_controls& run) const override {
        const auto where = point_at(f.plan.rule_copy, run);
        if (!where) return;
        run.stall(f.plan.seconds, *where);
        f.report.applied = true;
        f.resolved = true;
    }

    std::string missed(const rule& r, const request_record& record) const override {
        return point_missed(r, record);
    }
};

}  // namespace

const fault_action& faults::stall() {
    static const stall_fault action;
    return action;
}

}  // namespace proxy
