// The routes of the HTTP side by method and path, without regular expressions (a path is a
// client's, and may be long). A pattern is a path whose segments are literal, "{name}" (a
// controller or file name: letters, digits, '.', '_' and '-') or "{any}" (any segment that is
// not empty); a handler gets the segments that stood for them, in order. HEAD is answered as
// GET (the server leaves the body out).
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "gateway/http_message.h"

namespace gateway {

using path_parts = std::vector<std::string>;

class http_router {
  public:
    // Answers at once, on the server's thread: reads of what the gateway holds.
    using handler =
        std::function<void(const http_request&, const path_parts&, http_response& answer)>;
    // Answers later through reply: requests that wait for a controller.
    using deferred_handler =
        std::function<void(const http_request&, const path_parts&, reply_function reply)>;

    void get(std::string_view pattern, handler answer);
    void get_deferred(std::string_view pattern, deferred_handler answer);
    void patch(std::string_view pattern, deferred_handler answer);
    void post(std::string_view pattern, deferred_handler answer);
    void del(std::string_view pattern, deferred_handler answer);

    // Runs the route of the request and returns true, or returns false when there is none.
    bool dispatch(const http_request& request, reply_function& reply) const;

  private:
    struct route {
        std::string method;
        std::vector<std::string> segments;
        deferred_handler answer;
    };
    void add(std::string_view method, std::string_view pattern, deferred_handler answer);
    static bool matches(const route& r, const std::vector<std::string_view>& segments,
                        path_parts& parts);

    std::vector<route> routes_;
};

}  // namespace gateway
