// The fault actions by name: the registry of the list in proxy/faults/fault_list.def.
#pragma once

#include <optional>
#include <string_view>

#include "proxy/faults/fault.h"

namespace proxy {

// Every action, in the order of the list.
inline constexpr action every_action[] = {
#define PROXY_FAULT(name) action::name,
#include "proxy/faults/fault_list.def"
#undef PROXY_FAULT
};

const fault_action& fault_of(action a);
// The action's name in a rule: "drop_fin".
std::string_view action_name(action a);
// The action a rule names; none for a name of no action.
std::optional<action> action_named(std::string_view name);

}  // namespace proxy
