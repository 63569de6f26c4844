#include "gateway/http_router.h"

#include <algorithm>

#include "gateway/addresses.h"

namespace gateway {

namespace {

constexpr std::string_view name_segment = "{name}";
constexpr std::string_view any_segment = "{any}";

// "/api/controllers/loom1" -> "api", "controllers", "loom1"; "/" -> nothing.
std::vector<std::string_view> segments_of(std::string_view path) {
    std::vector<std::string_view> segments;
    if (path.starts_with('/')) path.remove_prefix(1);
    if (path.empty()) return segments;
    for (;;) {
        const auto slash = path.find('/');
        segments.push_back(path.substr(0, slash));
        if (slash == std::string_view::npos) break;
        path.remove_prefix(slash + 1);
    }
    return segments;
}

bool is_name(std::string_view segment) {
    return !segment.empty() && std::all_of(segment.begin(), segment.end(), is_controller_name_char);
}

}  // namespace

void http_router::get(std::string_view pattern, handler answer) {
    add("GET", pattern,
        [answer = std::move(answer)](const http_request& request, const path_parts& parts,
                                     reply_function reply) {
            http_response response;
            answer(request, parts, response);
            reply(std::move(response));
        });
}

void http_router::get_deferred(std::string_view pattern, deferred_handler answer) {
    add("GET", pattern, std::move(answer));
}

void http_router::patch(std::string_view pattern, deferred_handler answer) {
    add("PATCH", pattern, std::move(answer));
}

void http_router::post(std::string_view pattern, deferred_handler answer) {
    add("POST", pattern, std::move(answer));
}

void http_router::del(std::string_view pattern, deferred_handler answer) {
    add("DELETE", pattern, std::move(answer));
}

void http_router::add(std::string_view method, std::string_view pattern, deferred_handler answer) {
    route r{std::string(method), {}, std::move(answer)};
    for (const std::string_view segment : segments_of(pattern))
        r.segments.emplace_back(segment);
    routes_.push_back(std::move(r));
}

bool http_router::matches(const route& r, const std::vector<std::string_view>& segments,
                          path_parts& parts) {
    if (r.segments.size() != segments.size()) return false;
    parts.clear();
    for (std::size_t i = 0; i < segments.size(); ++i) {
        const std::string& pattern = r.segments[i];
        if (pattern == name_segment) {
            if (!is_name(segments[i])) return false;
            parts.emplace_back(segments[i]);
        } else if (pattern == any_segment) {
            if (segments[i].empty()) return false;
            parts.emplace_back(segments[i]);
        } else if (pattern != segments[i]) {
            return false;
        }
    }
    return true;
}

bool http_router::dispatch(const http_request& request, reply_function& reply) const {
    const std::string_view method =
        request.method == "HEAD" ? std::string_view("GET") : std::string_view(request.method);
    const auto segments = segments_of(request.path);
    path_parts parts;
    for (const route& r : routes_) {
        if (r.method == method && matches(r, segments, parts)) {
            r.answer(request, parts, std::move(reply));
            return true;
        }
    }
    return false;
}

}  // namespace gateway
