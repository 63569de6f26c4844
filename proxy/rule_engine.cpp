#include "proxy/rule_engine.h"

#include <fnmatch.h>

#include <algorithm>
#include <string>

#include "proxy/faults/registry.h"
#include "proxy/seeded_draw.h"

namespace proxy {

rule_engine::rule_engine(std::vector<rule> rules, std::uint64_t seed)
    : rules_(std::move(rules)), seed_(seed), matched_(rules_.size(), 0), fired_(rules_.size(), 0) {
    decides_at_header_ = std::any_of(rules_.begin(), rules_.end(), [](const rule& r) {
        return fault_of(r.what).decided_at_header();
    });
}

bool rule_engine::matches(const rule& r, const pending_request& request) const {
    // Each rule is decided at one moment of a request only.
    if (fault_of(r.what).decided_at_header() ? request.point != decision_point::header
                                             : !request.command_known) {
        return false;
    }
    if (r.kind && *r.kind != request.kind) return false;
    if (!r.command.empty()) {
        const std::string name(request.command);
        if (::fnmatch(r.command.c_str(), name.c_str(), 0) != 0) return false;
    }
    return true;
}

std::vector<planned_fault> rule_engine::decide(const pending_request& request) {
    std::vector<planned_fault> faults;
    const std::lock_guard lock(mutex_);
    for (std::size_t i = 0; i < rules_.size(); ++i) {
        const rule& r = rules_[i];
        if (!matches(r, request)) continue;
        const long long match = ++matched_[i];
        bool fires = true;
        switch (r.when) {
            case occurrence::every:
                break;
            case occurrence::nth:
                fires = match == r.n;
                break;
            case occurrence::every_kth:
                fires = match % r.n == 0;
                break;
            case occurrence::probability:
                fires = seeded_draw(seed_, i, static_cast<std::uint64_t>(match),
                                    draw_purpose::fires) < r.p;
                break;
        }
        if (r.limit > 0 && fired_[i] >= r.limit) fires = false;
        if (!fires) continue;
        ++fired_[i];
        planned_fault f;
        f.index = i;
        f.rule_copy = r;
        f.match = match;
        f.seconds = r.seconds;
        // A range of seconds is drawn within.
        if (r.seconds_max > r.seconds) {
            f.seconds +=
                (r.seconds_max - r.seconds) *
                seeded_draw(seed_, i, static_cast<std::uint64_t>(match), draw_purpose::delay);
        }
        f.position_draw =
            seeded_draw(seed_, i, static_cast<std::uint64_t>(match), draw_purpose::position);
        faults.push_back(std::move(f));
    }
    return faults;
}

}  // namespace proxy
