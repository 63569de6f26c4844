// The checks every request passes after its header fields and before its body is read:
//   - the method is one the API uses (GET, HEAD, PATCH; 405 otherwise);
//   - it carries no compressed body (415: the gateway has no use for one, and a small
//     compressed body can stand for a huge one);
//   - it names this gateway as its host (403 otherwise), when the gateway has no token or is
//     given --allowed-host: a web page elsewhere can point a name of its own at the gateway's
//     address and so reach it from a browser, but its requests then carry that name;
//   - a write finds the gateway writable (403), carries the bearer token when there is one
//     (401), and declares its body as JSON (415).
#pragma once

#include <optional>
#include <string_view>

#include "gateway/http_message.h"
#include "gateway/http_settings.h"

namespace gateway {

// The methods the API answers, for 405's Allow.
inline constexpr std::string_view allowed_methods = "GET, HEAD, PATCH";

// The refusal of a request, or nothing when it may go on.
std::optional<http_response> check_request_head(const http_request& request,
                                                const http_settings& settings);

}  // namespace gateway
