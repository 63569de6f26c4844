#include "gateway/mill_replies.h"

#include <charconv>

#include "gateway/http_replies.h"
#include "gateway/json_text.h"
#include "gateway/strict_json.h"
#include "gateway/write_reason.h"

namespace gateway {

http_router::deferred_handler mill_router::deferred(mill_handler answer) const {
    return [mill = mill_, work = work_, answer = std::move(answer)](
               const http_request& request, const path_parts& parts, reply_function reply) {
        if (mill == nullptr) return reply(error_response(404, std::string(no_state_message)));
        // The request and reply are shared by the task and this thread: the pool may refuse
        // the task, and then this thread answers.
        auto shared_reply = std::make_shared<reply_function>(std::move(reply));
        const bool started = work->try_run([mill, answer, request, parts, shared_reply]() {
            http_response res;
            try {
                answer(request, parts, *mill, res);
            } catch (const std::exception&) {
                res = error_response(500, "internal error");
            }
            (*shared_reply)(std::move(res));
        });
        if (!started) {
            auto busy = error_response(503,
                                       "the gateway's state is busy with other requests: "
                                       "try again in a moment");
            busy.set_header("Retry-After", "1");
            (*shared_reply)(std::move(busy));
        }
    };
}

void mill_router::get(std::string_view pattern, mill_handler answer) {
    router_.get_deferred(pattern, deferred(std::move(answer)));
}

void mill_router::post(std::string_view pattern, mill_handler answer) {
    router_.post(pattern, deferred(std::move(answer)));
}

void mill_router::del(std::string_view pattern, mill_handler answer) {
    router_.del(pattern, deferred(std::move(answer)));
}

int status_of(state::store_errc code) {
    switch (code) {
        case state::store_errc::unavailable:
            return 503;
        case state::store_errc::not_found:
            return 404;
        case state::store_errc::conflict:
            return 409;
        case state::store_errc::invalid:
            break;
    }
    return 400;
}

void send_store_error(http_response& res, const state::store_error& failure) {
    send_error(res, status_of(failure.code), failure.reason);
}

void send_mill_json(http_response& res, int status, const mill_json& body) {
    send_json(res, status, json_text(body));
}

std::optional<mill_json> write_body(const http_request& request, http_response& res,
                                    std::string& reason) {
    if (request.body.empty()) return mill_json::object();
    auto parsed = parse_strict_json(request.body);
    if (!parsed) {
        send_error(res, 400, parsed.failure().detail);
        return std::nullopt;
    }
    if (!parsed->is_object()) {
        send_error(res, 400, "the body must be a JSON object");
        return std::nullopt;
    }
    auto taken = take_reason(parsed.value());
    if (!taken) {
        send_error(res, 400, taken.failure().detail);
        return std::nullopt;
    }
    reason = std::move(taken.value());
    return std::move(parsed.value());
}

state::actor actor_of(const http_request& request) {
    return state::actor{request.who.empty() ? std::string(state::local_actor) : request.who,
                        request.peer};
}

std::optional<std::int64_t> whole_number_of(std::string_view text) {
    std::int64_t value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

std::optional<state::version_ref> version_of(const std::string& style, const std::string& number,
                                             http_response& res) {
    const auto n = whole_number_of(number);
    if (!n || *n < 1 || *n > std::numeric_limits<int>::max()) {
        send_error(res, 404, "no version " + number + " of " + style + ": versions are 1, 2, ...");
        return std::nullopt;
    }
    return state::version_ref{style, static_cast<int>(*n)};
}

std::optional<std::string> text_member(const mill_json& body, const char* name,
                                       http_response& res) {
    const auto found = body.find(name);
    if (found == body.end() || found->is_null()) return std::string();
    if (!found->is_string()) {
        send_error(res, 400, std::string("\"") + name + "\" must be a text");
        return std::nullopt;
    }
    return found->get<std::string>();
}

}  // namespace gateway

namespace gateway {

std::optional<std::vector<std::string>> chosen_controllers(const mill_json& body,
                                                           const fleet& machines,
                                                           http_response& res) {
    const auto listed = body.find("controllers");
    const auto group = body.find("group");
    const bool has_list = listed != body.end() && !listed->is_null();
    const bool has_group = group != body.end() && !group->is_null();
    if (has_list == has_group) {
        send_error(res, 400, "name the machines: \"controllers\": [names] or \"group\": name");
        return std::nullopt;
    }
    std::vector<std::string> names;
    if (has_group) {
        if (!group->is_string()) {
            send_error(res, 400, "\"group\" must be a text");
            return std::nullopt;
        }
        for (const auto& poller : machines.pollers()) {
            if (poller->address().group == group->get<std::string>()) {
                names.push_back(poller->address().name);
            }
        }
        if (names.empty()) {
            send_error(res, 404,
                       "no controller is in the group \"" + group->get<std::string>() + "\"");
            return std::nullopt;
        }
        return names;
    }
    if (!listed->is_array() || listed->empty()) {
        send_error(res, 400, "\"controllers\" must be a list of controller names");
        return std::nullopt;
    }
    for (const auto& name : *listed) {
        if (!name.is_string()) {
            send_error(res, 400, "\"controllers\" must be a list of controller names");
            return std::nullopt;
        }
        if (machines.find(name.get<std::string>()) == nullptr) {
            send_error(res, 404, "no controller named \"" + name.get<std::string>() + "\"");
            return std::nullopt;
        }
        if (std::find(names.begin(), names.end(), name.get<std::string>()) != names.end()) {
            send_error(res, 400, "\"" + name.get<std::string>() + "\" is named twice");
            return std::nullopt;
        }
        names.push_back(name.get<std::string>());
    }
    return names;
}

}  // namespace gateway
