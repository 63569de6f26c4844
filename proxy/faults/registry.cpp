#include "proxy/faults/registry.h"

#include <array>
#include <cstddef>

namespace proxy {

namespace {

struct entry {
    std::string_view name;
    const fault_action& (*instance)();
};

// In the order of the action enum, which the same list makes.
constexpr std::array entries{
#define PROXY_FAULT(name) entry{#name, &faults::name},
#include "proxy/faults/fault_list.def"
#undef PROXY_FAULT
};

const entry& entry_of(action a) {
    return entries[static_cast<std::size_t>(a)];
}

}  // namespace

const fault_action& fault_of(action a) {
    return entry_of(a).instance();
}

std::string_view action_name(action a) {
    return entry_of(a).name;
}

std::optional<action> action_named(std::string_view name) {
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (entries[i].name == name) return static_cast<action>(i);
    }
    return std::nullopt;
}

}  // namespace proxy
