// How every route of the HTTP side answers: JSON bodies that no cache keeps, error objects with
// a message, and the headers every answer carries.
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <string_view>

#include "gateway/http_message.h"

namespace gateway {

inline constexpr const char* json_type = "application/json";

// The fleet list and the metrics are rendered at most once per period for all their readers.
inline constexpr std::chrono::milliseconds shared_render_period{1000};

void send_json(http_response& res, int status, std::string body);
// {"message":"..."} with the status.
void send_error(http_response& res, int status, const std::string& message);
http_response error_response(int status, const std::string& message);
// A plain-text answer (the metrics' and the pages' errors).
void send_text(http_response& res, int status, std::string text);

// The headers of every answer: no sniffing of types, no framing by other sites, no referrer,
// and a content security policy that lets the pages load and run nothing from elsewhere.
void add_common_headers(http_response& res);

}  // namespace gateway
