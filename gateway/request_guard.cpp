#include "gateway/request_guard.h"

#include <algorithm>
#include <cctype>
#include <string>

#include "gateway/addresses.h"
#include "gateway/http_replies.h"

namespace gateway {

namespace {

bool is_json_type(const std::string& content_type) {
    std::string lower;
    for (char c : content_type)
        lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return lower == json_type || lower.starts_with(std::string(json_type) + ";");
}

// The host of a Host field: "localhost:8090" -> "localhost", "[::1]:8090" -> "::1".
std::string_view host_name(std::string_view host) {
    if (host.starts_with('[')) {
        const auto close = host.find(']');
        if (close == std::string_view::npos) return {};
        return host.substr(1, close - 1);
    }
    return host.substr(0, host.find(':'));
}

bool host_allowed(std::string_view host, const http_settings& settings) {
    const std::string_view name = host_name(host);
    if (name.empty()) return false;
    const bool listed =
        std::any_of(settings.allowed_hosts.begin(), settings.allowed_hosts.end(),
                    [&](const std::string& allowed) {
                        return same_token(allowed, name) || same_token(allowed, host);
                    });
    if (listed) return true;
    const listen_address address{std::string(name), 0};
    if (address.loopback()) return true;
    // Away from loopback an address typed by the operator is this gateway's; a name could be
    // anyone's (a page elsewhere that points its own name at the gateway's address).
    return !settings.loopback && is_address_literal(name);
}

std::optional<http_response> refusal(int status, const std::string& message) {
    return error_response(status, message);
}

bool is_write(const std::string& method) {
    return method == "PATCH" || method == "POST" || method == "DELETE";
}

// A body follows the header fields (the server reads it only after these checks).
bool carries_body(const http_request& request) {
    if (request.has_header("Transfer-Encoding")) return true;
    const std::string length = request.header("Content-Length");
    return !length.empty() && length.find_first_not_of('0') != std::string::npos;
}

// A write without a type: a browser sends one without asking first only from a form (which
// always has a type) or a script, whose Origin then names its own site.
bool same_origin(const http_request& request) {
    if (!request.has_header("Origin")) return true;
    const std::string origin = request.header("Origin");
    const std::string host = request.header("Host");
    return !host.empty() && (origin == "http://" + host || origin == "https://" + host);
}

// The token of an Authorization field, or "" when it carries none.
std::string_view bearer_token(const std::string& authorization) {
    constexpr std::string_view scheme = "Bearer ";
    if (!authorization.starts_with(scheme)) return {};
    return std::string_view(authorization).substr(scheme.size());
}

}  // namespace

std::optional<http_response> check_request_head(http_request& request,
                                                const http_settings& settings) {
    const std::string& method = request.method;
    const bool write = is_write(method);
    if (!write && method != "GET" && method != "HEAD") {
        auto refused =
            error_response(405, "the method " + method + " is not one the gateway answers (" +
                                    std::string(allowed_methods) + ")");
        refused.set_header("Allow", allowed_methods);
        return refused;
    }
    if (const std::string coding = request.header("Content-Encoding");
        request.has_header("Content-Encoding") && !same_token(coding, "identity")) {
        return refusal(
            415, "compressed request bodies are not taken (Content-Encoding: " + coding + ")");
    }
    if ((settings.tokens.tokens.empty() || !settings.allowed_hosts.empty()) &&
        !host_allowed(request.header("Host"), settings)) {
        return refusal(403, settings.loopback
                                ? "this gateway answers requests that address it by a loopback "
                                  "name (localhost, 127.0.0.1 or [::1]) or a name given with "
                                  "--allowed-host"
                                : "this gateway answers requests that address it by an IP address "
                                  "or a name given with --allowed-host");
    }
    if (!write) return std::nullopt;
    if (settings.read_only) {
        return refusal(403, "writes are turned off (the gateway runs with --read-only)");
    }
    if (settings.tokens.tokens.empty()) {
        request.who = "local";
    } else {
        const std::string auth = request.header("Authorization");
        const mill::named_token* token = settings.tokens.find(bearer_token(auth));
        if (token == nullptr) {
            auto refused = error_response(
                401, "writes need one of the gateway's bearer tokens (Authorization: Bearer ...)");
            refused.set_header("WWW-Authenticate", "Bearer");
            return refused;
        }
        if (token->read_only) {
            return refusal(403, "the token " + token->name + " may read but not write");
        }
        request.who = token->name;
    }
    if (method == "PATCH" || carries_body(request)) {
        if (!is_json_type(request.header("Content-Type"))) {
            return refusal(415, "writes take a JSON object: Content-Type must be application/json");
        }
    } else if (request.has_header("Content-Type") ? !is_json_type(request.header("Content-Type"))
                                                  : !same_origin(request)) {
        return refusal(403,
                       "a write without a body must come from the gateway's own pages or a "
                       "program: send it with Content-Type: application/json");
    }
    return std::nullopt;
}

}  // namespace gateway
