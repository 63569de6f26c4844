#include "gateway/write_guard.h"

#include <cctype>
#include <string_view>

#include "gateway/addresses.h"
#include "gateway/http_replies.h"

namespace gateway {

namespace {

// Compares without returning early, so that the time taken tells nothing of the token.
// expected is not empty.
bool same_token(std::string_view given, std::string_view expected) {
    unsigned char differ = given.size() == expected.size() ? 0 : 1;
    for (std::size_t i = 0; i < given.size(); ++i) {
        differ |= static_cast<unsigned char>(given[i] ^ expected[i % expected.size()]);
    }
    return differ == 0;
}

bool is_json_type(const std::string& content_type) {
    std::string lower;
    for (char c : content_type)
        lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return lower == json_type || lower.starts_with(std::string(json_type) + ";");
}

// "localhost:8090", "127.0.0.1", "[::1]:8090": a name that only this host answers to.
bool loopback_host(std::string_view host) {
    if (host.starts_with('[')) {
        const auto close = host.find(']');
        if (close == std::string_view::npos) return false;
        host = host.substr(1, close - 1);
    } else {
        host = host.substr(0, host.find(':'));
    }
    const listen_address address{std::string(host), 0};
    return address.loopback();
}

}  // namespace

bool is_write_method(const std::string& method) {
    return method == "PATCH" || method == "POST" || method == "PUT" || method == "DELETE";
}

bool write_allowed(const httplib::Request& req, httplib::Response& res,
                   const http_settings& settings) {
    if (settings.read_only) {
        send_error(res, 403, "writes are turned off (the gateway runs with --read-only)");
        return false;
    }
    // A web page elsewhere can point one of its own names at 127.0.0.1 and then write as if it
    // came from the gateway's own pages; such a request names that other host.
    if (settings.loopback && settings.token.empty() &&
        !loopback_host(req.get_header_value("Host"))) {
        send_error(res, 403,
                   "writes to this gateway must address it by a loopback name "
                   "(localhost, 127.0.0.1 or [::1]); give it a token to write from elsewhere");
        return false;
    }
    if (!settings.token.empty()) {
        const std::string auth = req.get_header_value("Authorization");
        constexpr std::string_view scheme = "Bearer ";
        if (!auth.starts_with(scheme) ||
            !same_token(std::string_view(auth).substr(scheme.size()), settings.token)) {
            res.set_header("WWW-Authenticate", "Bearer");
            send_error(res, 401,
                       "writes need the gateway's bearer token (Authorization: Bearer ...)");
            return false;
        }
    }
    if (!is_json_type(req.get_header_value("Content-Type"))) {
        send_error(res, 415, "writes take a JSON object: Content-Type must be application/json");
        return false;
    }
    return true;
}

}  // namespace gateway
