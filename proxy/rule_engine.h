// Decides which fault rules fire on a request: each rule counts the requests it matches, and
// fires by its occurrence (every, nth, every kth, probability from the seed) within its limit.
// Shared by every connection of the proxy; the counts run over all of them in the order their
// requests are decided.
#pragma once

#include <cstdint>
#include <mutex>
#include <vector>

#include "proxy/rules.h"
#include "proxy/tracker.h"

namespace proxy {

struct planned_fault {
    std::size_t index = 0;     // the rule's position in the file (rules[index])
    rule rule_copy;            // a copy: a reload leaves a planned fault as it was
    long long match = 0;       // the request's number among those the rule matched (1: the first)
    double seconds = 0;        // delay: drawn within the rule's range
    double position_draw = 0;  // corrupt without a position: scaled by the answer length
};

class rule_engine {
  public:
    rule_engine(std::vector<rule> rules, std::uint64_t seed);

    // The faults that fire on the request at this decision, in rule order. Each rule is
    // decided once per request: err rules at a PUT's header, every other rule where the
    // request's command becomes known.
    std::vector<planned_fault> decide(const pending_request& request);

    std::size_t size() const { return rules_.size(); }
    const std::vector<rule>& rules() const { return rules_; }
    // Some rule answers ERR! for a PUT: a PUT header must reach the proxy whole before any of
    // it is relayed.
    bool answers_err() const { return answers_err_; }

  private:
    bool matches(const rule& r, const pending_request& request) const;

    std::vector<rule> rules_;
    std::uint64_t seed_;
    bool answers_err_ = false;
    std::mutex mutex_;
    std::vector<long long> matched_;
    std::vector<long long> fired_;
};

}  // namespace proxy
