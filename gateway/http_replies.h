// How every route of the HTTP side answers: JSON bodies that no cache keeps, error objects with
// a message, and texts shared by many readers sent without a copy.
#pragma once

#include <chrono>
#include <memory>
#include <string>

#include <httplib.h>

namespace gateway {

inline constexpr const char* json_type = "application/json";

// The fleet list and the metrics are rendered at most once per period for all their readers.
inline constexpr std::chrono::milliseconds shared_render_period{1000};

void send_json(httplib::Response& res, int status, const std::string& body);
// {"message":"..."} with the status.
void send_error(httplib::Response& res, int status, const std::string& message);
// Sends a shared text without copying it: it lives as long as the response needs it.
void send_shared(httplib::Response& res, std::shared_ptr<const std::string> text, const char* type);

}  // namespace gateway
