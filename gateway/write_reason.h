// The optional "reason" every write of the API takes for the logbook: why a value was changed,
// a version saved or a roll-out started.
#pragma once

#include <cstddef>
#include <string>

#include <nlohmann/json.hpp>

#include "client/result.h"

namespace gateway {

inline constexpr std::size_t max_reason_bytes = 500;

// Takes the member "reason" out of a write's body (an object): its text ("" when there is
// none), or why it is refused (errc::bad_request: not a text, or longer than max_reason_bytes).
ifc_client::result<std::string> take_reason(nlohmann::ordered_json& body);

}  // namespace gateway
