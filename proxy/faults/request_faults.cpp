#include "proxy/faults/request_faults.h"

#include <algorithm>

#include "proxy/faults/registry.h"

namespace proxy {

namespace {

std::string missed_reason(const active_fault& f, const request_record& record) {
    std::string why;
    if (record.result == outcome::ok) {
        why = fault_of(f.plan.rule_copy.what).missed(f.plan.rule_copy, record);
    }
    if (why.empty()) {
        why = "the request ended (" + std::string(outcome_name(record.result)) + ") first";
    }
    return why;
}

}  // namespace

void request_faults::start(const pending_request& request, std::vector<planned_fault> plans,
                           request_controls& relay) {
    if (request.point == decision_point::header) {
        seq_ = request.seq;
        faults_.clear();
    }
    for (planned_fault& plan : plans) {
        active_fault f;
        f.report = report_of(plan);
        f.plan = std::move(plan);
        fault_of(f.plan.rule_copy.what).decide(f, relay);
        faults_.push_back(std::move(f));
    }
}

bool request_faults::waiting() const {
    return std::any_of(faults_.begin(), faults_.end(),
                       [](const active_fault& f) { return !f.resolved; });
}

void request_faults::pass(fragment_controls& run) {
    for (active_fault& f : faults_) {
        if (!f.resolved) fault_of(f.plan.rule_copy.what).act(f, run);
    }
}

std::vector<fault_report> request_faults::reports(const request_record& record) {
    std::vector<fault_report> reports;
    if (record.seq != seq_) return reports;
    for (active_fault& f : faults_) {
        if (!f.report.applied && f.report.missed.empty())
            f.report.missed = missed_reason(f, record);
        f.resolved = true;
        reports.push_back(f.report);
    }
    return reports;
}

}  // namespace proxy
