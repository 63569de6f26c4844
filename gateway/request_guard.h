// The checks every request passes after its header fields and before its body is read:
//   - the method is one the API uses (GET, HEAD, POST, PATCH, DELETE; 405 otherwise);
//   - it carries no compressed body (415: the gateway has no use for one, and a small
//     compressed body can stand for a huge one);
//   - it names this gateway as its host (403 otherwise), when the gateway has no token or is
//     given --allowed-host: a web page elsewhere can point a name of its own at the gateway's
//     address and so reach it from a browser, but its requests then carry that name;
//   - a write (POST, PATCH, DELETE) finds the gateway writable (403), carries one of the
//     bearer tokens when there are any (401) and one that may write (403 for a read-only
//     token), and declares its body as JSON (415); a write without a body (a DELETE, a POST
//     that starts something) may leave the type out, but then must not come from a page of
//     another site (its Origin, when it has one, is the gateway's).
// A write that passes is marked with who makes it: the token's name, or "local".
#pragma once

#include <optional>
#include <string_view>

#include "gateway/http_message.h"
#include "gateway/http_settings.h"

namespace gateway {

// The methods the API answers, for 405's Allow.
inline constexpr std::string_view allowed_methods = "GET, HEAD, POST, PATCH, DELETE";

// The refusal of a request, or nothing when it may go on (request.who then set for a write).
std::optional<http_response> check_request_head(http_request& request,
                                                const http_settings& settings);

}  // namespace gateway
