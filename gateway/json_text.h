// JSON as the gateway writes it: compact, exactly as nlohmann-json's dump() writes it. The
// gateway's texts are valid UTF-8 (peer_text cleans what comes from outside); should one slip
// through, it is written with U+FFFD in place of its bad bytes rather than thrown as an error.
#pragma once

#include <string>

#include <nlohmann/json.hpp>

namespace gateway {

template <class Json>
std::string json_text(const Json& value) {
    return value.dump(-1, ' ', false, Json::error_handler_t::replace);
}

}  // namespace gateway
