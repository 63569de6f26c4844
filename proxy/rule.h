// A fault rule: which requests it matches (kind, command name, occurrence) and the fault action
// it takes on them, with the action's settings. Read from a rules file (proxy/rules.h); the
// actions are in proxy/faults/.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "proxy/exchange.h"
#include "proxy/faults/fault_settings.h"

namespace proxy {

enum class occurrence : std::uint8_t {
    every,        // every matching request
    nth,          // only the nth
    every_kth,    // the kth, the 2kth, ...
    probability,  // each with probability p, drawn from the seed
};

// The fault actions, in the order of proxy/faults/fault_list.def; proxy/faults/registry.h has
// each one's name and code.
enum class action : std::uint8_t {
#define PROXY_FAULT(name) name,
#include "proxy/faults/fault_list.def"
#undef PROXY_FAULT
};

struct rule : fault_settings {
    std::string label;
    std::optional<request_kind> kind;  // none: every kind
    std::string command;               // a glob over the command name; empty: every name
    occurrence when = occurrence::every;
    long long n = 0;      // nth, every_kth
    double p = 0;         // probability
    long long limit = 0;  // fires at most this many times; 0: no limit
    action what{};
};

}  // namespace proxy
