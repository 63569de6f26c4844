// Decides which fault rules fire on a request: each rule counts the requests it matches, and
// fires by its occurrence (every, nth, every kth, probability from the seed) within its limit.
// Shared by every connection of the proxy; the counts run over all of them in the order their
// requests are decided.
#pragma once

#include <cstdint>
#include <mutex>
#include <vector>

#include "proxy/faults/fault.h"
#include "proxy/rule.h"
#include "proxy/tracker.h"

namespace proxy {

class rule_engine {
  public:
    rule_engine(std::vector<rule> rules, std::uint64_t seed);

    // The faults that fire on the request at this decision, in rule order. Each rule is
    // decided once per request: at its header when its action says so (err), else where the
    // request's command becomes known.
    std::vector<planned_fault> decide(const pending_request& request);

    std::size_t size() const { return rules_.size(); }
    const std::vector<rule>& rules() const { return rules_; }
    // Some rule is decided at a request's header: a PUT header must reach the proxy whole
    // before any of it is relayed.
    bool decides_at_header() const { return decides_at_header_; }

  private:
    bool matches(const rule& r, const pending_request& request) const;

    std::vector<rule> rules_;
    std::uint64_t seed_;
    bool decides_at_header_ = false;
    std::mutex mutex_;
    std::vector<long long> matched_;
    std::vector<long long> fired_;
};

}  // namespace proxy
