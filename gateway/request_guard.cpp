#include "gateway/request_guard.h"

#include <algorithm>
#include <cctype>
#include <string>

#include "gateway/addresses.h"
#include "gateway/http_replies.h"

namespace gateway {

namespace {

// Compares without returning early, so that the time taken tells nothing of the token.
// expected is not empty.
bool same_secret(std::string_view given, std::string_view expected) {
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

}  // namespace

std::optional<http_response> check_request_head(const http_request& request,
                                                const http_settings& settings) {
    const std::string& method = request.method;
    const bool write = method == "PATCH";
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
    if ((settings.token.empty() || !settings.allowed_hosts.empty()) &&
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
    if (!settings.token.empty()) {
        const std::string auth = request.header("Authorization");
        constexpr std::string_view scheme = "Bearer ";
        if (!auth.starts_with(scheme) ||
            !same_secret(std::string_view(auth).substr(scheme.size()), settings.token)) {
            auto refused = error_response(
                401, "writes need the gateway's bearer token (Authorization: Bearer ...)");
            refused.set_header("WWW-Authenticate", "Bearer");
            return refused;
        }
    }
    if (!is_json_type(request.header("Content-Type"))) {
        return refusal(415, "writes take a JSON object: Content-Type must be application/json");
    }
    return std::nullopt;
}

}  // namespace gateway
