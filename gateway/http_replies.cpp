#include "gateway/http_replies.h"

#include <nlohmann/json.hpp>

#include "gateway/json_text.h"
#include "gateway/peer_text.h"

namespace gateway {

void send_json(http_response& res, int status, std::string body) {
    res.status = status;
    res.set_header("Cache-Control", "no-store");
    res.set_text(std::move(body), json_type);
}

void send_error(http_response& res, int status, const std::string& message) {
    send_json(res, status, json_text(nlohmann::ordered_json{{"message", peer_text(message)}}));
}

http_response error_response(int status, const std::string& message) {
    http_response res;
    send_error(res, status, message);
    return res;
}

void send_text(http_response& res, int status, std::string text) {
    res.status = status;
    res.set_text(peer_text(text), "text/plain");
}

void add_common_headers(http_response& res) {
    res.set_header("X-Content-Type-Options", "nosniff");
    res.set_header("X-Frame-Options", "DENY");
    res.set_header("Referrer-Policy", "no-referrer");
    // The pages load their scripts, styles and images from the gateway only, run no inline
    // script, embed no plugin, set no base and cannot be framed.
    res.set_header("Content-Security-Policy",
                   "default-src 'self'; img-src 'self' data:; object-src 'none'; "
                   "base-uri 'none'; form-action 'self'; frame-ancestors 'none'");
}

}  // namespace gateway
