// cut: at a point of the exchange both connections end, with an end of stream or a reset.
#include "proxy/faults/fault.h"
#include "proxy/faults/point.h"
#include "proxy/rule_fields.h"

namespace proxy {

namespace {

std::string_view mode_name(bool reset) {
    return reset ? "reset" : "close";
}

class cut_fault final : public fault_action {
  public:
    std::vector<std::string_view> fields() const override { return {"at", "chunk", "mode"}; }

    void read(const rule_reader& in, rule& r) const override {
        read_point(in, r);
        if (!in.has("mode")) return;
        const nlohmann::json& v = in.at("mode");
        if (v == "reset") {
            r.reset = true;
        } else if (v != "close") {
            reject_value("mode", "close or reset", v);
        }
    }

    std::string words(const rule& r) const override {
        return " (" + std::string(mode_name(r.reset)) + ")" + point_words(r);
    }

    void journal_fields(const fault_report& f, journal_line& entry) const override {
        put_point(f, entry);
        entry["mode"] = mode_name(f.reset);
    }

    void act(active_fault& f, fragment_controls& run) const override {
        const rule& r = f.plan.rule_copy;
        const auto where = point_at(r, run);
        if (!where) return;
        run.cut(r.reset,
                "rules[" + std::to_string(f.plan.index) + "]: cut (" +
                    std::string(mode_name(r.reset)) + ") " + point_text(r),
                *where);
        f.report.applied = true;
        f.resolved = true;
    }

    std::string missed(const rule& r, const request_record& record) const override {
        return point_missed(r, record);
    }
};

}  // namespace

const fault_action& faults::cut() {
    static const cut_fault action;
    return action;
}

}  // namespace proxy
