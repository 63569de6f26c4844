// What the mill's routes (mill_routes.h) share: how they are added (each answers on a thread
// of the mill's own few, never on the server's, since the database and the machines make them
// wait), the 404 of a gateway without a state directory, the store's failures as statuses,
// and the bodies, paths and names of their requests.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "gateway/http_message.h"
#include "gateway/http_router.h"
#include "gateway/mill_wiring.h"
#include "gateway/task_pool.h"

namespace gateway {

using mill_json = nlohmann::ordered_json;

inline constexpr std::string_view no_state_message =
    "this gateway keeps no state: start it with --state-dir DIR";

// A route of the mill: the request, its path's parts and the mill; fills the answer.
using mill_handler =
    std::function<void(const http_request&, const path_parts&, mill_wiring&, http_response&)>;

class mill_router {
  public:
    // mill null: every route answers 404 with no_state_message.
    mill_router(http_router& router, mill_wiring* mill, std::shared_ptr<task_pool> work)
        : router_(router), mill_(mill), work_(std::move(work)) {}

    void get(std::string_view pattern, mill_handler answer);
    void post(std::string_view pattern, mill_handler answer);
    void del(std::string_view pattern, mill_handler answer);
    mill_wiring* mill() const { return mill_; }

  private:
    http_router::deferred_handler deferred(mill_handler answer) const;

    http_router& router_;
    mill_wiring* mill_;
    std::shared_ptr<task_pool> work_;
};

// unavailable 503 (with the store's reason), not_found 404, conflict 409, invalid 400.
int status_of(state::store_errc code);
void send_store_error(http_response& res, const state::store_error& failure);
// Sends the failure of result, if it is one; true when it was.
template <class T>
bool store_failed(const state::store_result<T>& result, http_response& res) {
    if (result) return false;
    send_store_error(res, result.failure());
    return true;
}

void send_mill_json(http_response& res, int status, const mill_json& body);

// A write's body: a JSON object (an empty body is an empty object), its "reason" taken out
// into reason. nullopt after answering 400.
std::optional<mill_json> write_body(const http_request& request, http_response& res,
                                    std::string& reason);
// Who makes a request, from where: the token's name (or "local") and the client's address.
state::actor actor_of(const http_request& request);

// A whole number of text ("3", "-1"); nullopt for anything else.
std::optional<std::int64_t> whole_number_of(std::string_view text);
// STYLE and VERSION of a path as a version; nullopt after answering 404.
std::optional<state::version_ref> version_of(const std::string& style, const std::string& number,
                                             http_response& res);
// A member of a body that must be a text when present; "" when absent.
std::optional<std::string> text_member(const mill_json& body, const char* name, http_response& res);

}  // namespace gateway

namespace gateway {

// The machines a body names: "controllers" (a list of names the gateway polls) or "group" (the
// controllers of that group), in the gateway's order for a group. nullopt after answering 400
// (neither, both, not names) or 404 (an unknown controller, an empty group).
std::optional<std::vector<std::string>> chosen_controllers(const mill_json& body,
                                                           const fleet& machines,
                                                           http_response& res);

}  // namespace gateway
