// corrupt: one byte of a GET answer, at a position or drawn from the seed, reaches the terminal
// with all its bits flipped.
#include <cmath>
#include <limits>

#include "proxy/byte_text.h"
#include "proxy/faults/fault.h"
#include "proxy/rule_fields.h"

namespace proxy {

namespace {

std::string byte_hex(int byte) {
    const char c = static_cast<char>(byte);
    return to_hex(std::string_view(&c, 1));
}

class corrupt_fault final : public fault_action {
  public:
    std::vector<std::string_view> fields() const override { return {"position"}; }

    void read(const rule_reader& in, rule& r) const override {
        need_kind(r, "action", "corrupt", {request_kind::get});
        if (!in.has("position")) reject("position", "required: a byte position or \"random\"");
        if (in.at("position") != "random") {
            r.position = in.integer("position", 0, std::numeric_limits<int>::max(),
                                    "a byte position from 0, or \"random\"");
        }
    }

    std::string words(const rule& r) const override {
        return r.position ? " byte " + std::to_string(*r.position) : " a random byte";
    }

    void journal_fields(const fault_report& f, journal_line& entry) const override {
        if (f.position) entry["position"] = *f.position;
        if (f.applied) {
            entry["from"] = byte_hex(f.from);
            entry["to"] = byte_hex(f.to);
        }
    }

    void act(active_fault& f, fragment_controls& run) const override {
        const fragment& part = run.what();
        if (run.from() != side::controller) return;
        // A position drawn from the seed falls within the answer, once its length is known.
        std::optional<long long>& position = f.plan.rule_copy.position;
        if (part.what == piece::len && part.completes && !position && part.length > 0) {
            position = static_cast<long long>(
                std::floor(f.plan.position_draw * static_cast<double>(part.length)));
        }
        if (part.what != piece::answer || !position) return;
        const auto pos = static_cast<std::size_t>(*position);
        if (pos < part.offset || pos >= part.offset + part.size) return;
        char& byte = run.bytes()[pos - part.offset];
        f.report.position = *position;
        f.report.from = static_cast<unsigned char>(byte);
        // Every bit flipped: surely another byte, and never printable text.
        byte = static_cast<char>(~static_cast<unsigned char>(byte));
        f.report.to = static_cast<unsigned char>(byte);
        f.report.applied = true;
        f.resolved = true;
    }

    std::string missed(const rule& /*r*/, const request_record& record) const override {
        return "the answer has " + std::to_string(record.length.value_or(0)) + " bytes";
    }
};

}  // namespace

const fault_action& faults::corrupt() {
    static const corrupt_fault action;
    return action;
}

}  // namespace proxy
