// Random write requests for the soak test, each with the slot writes the server must make for
// it (none for a request that must change nothing).
#pragma once

#include <random>
#include <string>
#include <vector>

#include "tests/support/settings_model.h"

namespace soak {

struct planned_put {
    std::string kind;  // for the report
    std::string payload;
    std::vector<test_support::slot_write> writes;
};

using rng_type = std::mt19937_64;

// A well-formed request of one of the write commands, random values.
planned_put valid_put(rng_type& rng);
// A request that must change no setting: unknown names, payloads without a NUL, arguments
// that do not have the form of their command, keys that no command knows.
planned_put no_effect_put(rng_type& rng);
// A valve line of every key, padded with blanks to about size bytes, so that it takes
// several chunks.
planned_put long_valve_line(rng_type& rng, std::size_t size);

}  // namespace soak
