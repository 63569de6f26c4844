// The checks every write passes before its body is looked at: the gateway is not read-only,
// the request names a loopback host (when the listener is on loopback and has no token), it
// carries the bearer token (when there is one), and its body is JSON.
#pragma once

#include <string>

#include <httplib.h>

#include "gateway/http_settings.h"

namespace gateway {

// PATCH, POST, PUT and DELETE.
bool is_write_method(const std::string& method);

// true when the write may go on; otherwise the refusal is in res.
bool write_allowed(const httplib::Request& req, httplib::Response& res,
                   const http_settings& settings);

}  // namespace gateway
