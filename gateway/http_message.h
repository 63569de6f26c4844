// A request and its answer as the gateway's routes see them, whatever HTTP server reads and
// writes them (http_server.h): the routes know nothing of the library behind it.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace gateway {

using header_list = std::vector<std::pair<std::string, std::string>>;

struct http_request {
    std::string method;  // as sent: "GET", "PATCH", ...
    std::string target;  // as sent: "/probe?target=10.0.0.7%3A9002"
    std::string path;    // the target's path, percent-decoded: "/probe"
    header_list query;   // the target's query, decoded: {"target", "10.0.0.7:9002"}
    header_list headers;
    std::string body;
    std::string peer;  // the client's address
    // Who makes a write, for the logbook: the name of the token it carried, or "local" when
    // the gateway takes writes without a token. Set by the request guard.
    std::string who;

    // The value of the first header of that name (names compare without case), or "".
    std::string header(std::string_view name) const;
    bool has_header(std::string_view name) const;
    // The value of the first query parameter of that name.
    std::optional<std::string> param(std::string_view name) const;
};

struct http_response {
    int status = 200;
    header_list headers;  // Content-Type among them; Content-Length is the server's
    bool close = false;   // close the connection after this answer

    // The body: a text of the response's own, a text shared with other answers, or bytes that
    // live as long as the program.
    void set_text(std::string text, std::string_view content_type);
    void share_text(std::shared_ptr<const std::string> text, std::string_view content_type);
    void set_static(std::string_view bytes, std::string_view content_type);
    std::string_view body() const { return body_; }
    void set_header(std::string_view name, std::string_view value);
    std::string header(std::string_view name) const;

  private:
    std::shared_ptr<const void> owner_;  // keeps body_ alive
    std::string_view body_;
};

// Gives the answer to a request, exactly once, from any thread.
using reply_function = std::function<void(http_response)>;

// What the server asks of the routes.
struct http_handlers {
    // After the request line and header fields, before any body is read: a refusal (the
    // server sends it and reads no body), or nothing to go on (the request's who then set).
    std::function<std::optional<http_response>(http_request&)> check_head;
    // The whole request: the answer, now or later, through reply.
    std::function<void(http_request, reply_function)> handle;
    // The answer to a request the server refuses itself (400, 408, 413, 431, 503, ...).
    std::function<http_response(int status, std::string_view message)> refusal;
};

// Fills request.path and request.query from request.target: the path and each query name and
// value percent-decoded ('+' is a blank in the query). false when the target is not an origin
// form ("/..."), holds a bad %-escape, or decodes to a NUL byte.
bool parse_target(http_request& request);

// Case-insensitive comparison of ASCII header names and tokens.
bool same_token(std::string_view a, std::string_view b);

}  // namespace gateway
