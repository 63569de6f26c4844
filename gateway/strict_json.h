// The API's request bodies read strictly: a body a lenient reader would take one way and a
// person another is refused. {"to": 200, "to": 96} is not "to 96", and nesting a few levels
// past what any write needs only costs the gateway stack and time.
#pragma once

#include <string_view>

#include <nlohmann/json.hpp>

#include "client/result.h"

namespace gateway {

// The deepest nesting of arrays and objects a body may have; the API's bodies need two.
inline constexpr int max_body_depth = 8;

// The body as JSON, or errc::bad_request with the reason: not JSON, a key given twice in one
// object, or nested deeper than max_body_depth.
ifc_client::result<nlohmann::ordered_json> parse_strict_json(std::string_view body);

// A request's value as it is quoted in a message: its JSON text, cut after a few dozen
// characters.
std::string quoted_value(const nlohmann::ordered_json& value);

}  // namespace gateway
