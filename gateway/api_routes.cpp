#include "gateway/api_routes.h"

#include <charconv>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "client/commands.h"
#include "client/value_ranges.h"
#include "gateway/controller_json.h"
#include "gateway/controller_poller.h"
#include "gateway/controller_view.h"
#include "gateway/http_replies.h"
#include "gateway/json_text.h"
#include "gateway/render_cache.h"
#include "gateway/writes.h"

namespace gateway {

namespace {

namespace cmd = ifc_client::commands;
using json = nlohmann::ordered_json;
constexpr std::string_view controller_path = "/api/controllers/{name}";

// The poller of the controller named, or nullptr after answering 404.
controller_poller* named_controller(const fleet& machines, const std::string& name,
                                    http_response& res) {
    controller_poller* poller = machines.find(name);
    if (!poller) send_error(res, 404, "no controller named \"" + name + "\"");
    return poller;
}

// The range of every writable key, [min, max], per setting, as the client library checks
// them: the panel's fields take their limits from here, the weft colours from "color".
json value_ranges() {
    const auto ranges_of = [](ifc_client::setting what, const auto& keys) {
        json ranges = json::object();
        for (std::string_view key : keys) {
            if (const auto range = ifc_client::range_of(what, key)) {
                ranges[std::string(key)] = json::array({range->min, range->max});
            }
        }
        return ranges;
    };
    return json{{"status", ranges_of(ifc_client::setting::status, cmd::status_keys)},
                {"selection", ranges_of(ifc_client::setting::selection, cmd::selection_keys)},
                {"targets", ranges_of(ifc_client::setting::targets, cmd::target_keys)},
                {"valves", ranges_of(ifc_client::setting::valves, cmd::valve_keys)}};
}

std::optional<int> colour_number(const std::string& text) {
    int value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

// Checks the write and queues it; the answer comes when the controller has taken it (or the
// write's deadline has passed), without holding a thread meanwhile.
void answer_write(controller_poller& poller, write_target target, const std::string& colour_text,
                  const http_request& req, reply_function reply) {
    http_response res;
    int colour = 0;
    if (!colour_text.empty()) {
        const auto number = colour_number(colour_text);
        if (!number) {
            poller.count_refused();
            send_error(res, 400,
                       "colour \"" + colour_text + "\" is not a colour number " +
                           cmd::colour_range_text());
            return reply(std::move(res));
        }
        colour = *number;
    }
    auto request = parse_write(target, colour, req.body);
    if (!request) {
        poller.count_refused();
        send_error(res, 400, request.failure().detail);
        return reply(std::move(res));
    }
    // For the logbook, when the gateway keeps one.
    request->who = req.who;
    request->address = req.peer;
    poller.submit(std::move(request.value()), [reply = std::move(reply)](write_outcome outcome) {
        http_response answer;
        send_json(answer, outcome.status, json_text(outcome.reply));
        if (outcome.status == 429) answer.set_header("Retry-After", "1");
        reply(std::move(answer));
    });
}

void add_reads(http_router& router, fleet& machines, const http_settings& settings) {
    router.get("/api/gateway", [&machines, settings](const http_request&, const path_parts&,
                                                     http_response& res) {
        const auto& poll = machines.settings();
        send_json(
            res, 200,
            json_text(json{{"read_only", settings.read_only},
                           {"token_required", !settings.tokens.tokens.empty()},
                           {"poll_seconds", std::chrono::duration<double>(poll.interval).count()},
                           {"controllers", machines.pollers().size()},
                           {"ranges", value_ranges()}}));
    });
    auto list_cache = std::make_shared<render_cache>(shared_render_period);
    router.get("/api/controllers",
               [&machines, list_cache](const http_request&, const path_parts&, http_response& res) {
                   const auto text = list_cache->get([&machines] {
                       const auto now = steady_clock::now();
                       std::vector<std::string> entries;
                       for (const auto& poller : machines.pollers()) {
                           const controller_view view = poller->view();
                           entries.push_back(controller_json::list_entry(
                               view.header(now, machines.settings().interval), view.json.get()));
                       }
                       return controller_json::list(entries);
                   });
                   res.set_header("Cache-Control", "no-store");
                   res.share_text(text, json_type);
               });
    router.get(controller_path,
               [&machines](const http_request&, const path_parts& parts, http_response& res) {
                   const controller_poller* poller = named_controller(machines, parts[0], res);
                   if (!poller) return;
                   const controller_view view = poller->view();
                   send_json(res, 200,
                             controller_json::whole(
                                 view.header(steady_clock::now(), machines.settings().interval),
                                 view.json.get()));
               });
}

// PATCH /api/controllers/NAME/PATH, and for the per-colour settings PATH/COLOUR.
void add_writes(http_router& router, fleet& machines) {
    struct write_route {
        const char* path;
        write_target target;
        bool per_colour;
    };
    constexpr write_route write_routes[] = {
        {"status", write_target::status, false},
        {"selection", write_target::selection, false},
        {"histogram-selection", write_target::histogram_selection, false},
        {"targets", write_target::targets, true},
        {"valves", write_target::valves, true}};
    for (const write_route& route : write_routes) {
        std::string pattern = std::string(controller_path) + "/" + route.path;
        if (route.per_colour) pattern += "/{any}";
        router.patch(pattern, [&machines, route](const http_request& req, const path_parts& parts,
                                                 reply_function reply) {
            http_response res;
            controller_poller* poller = named_controller(machines, parts[0], res);
            if (!poller) return reply(std::move(res));
            answer_write(*poller, route.target, route.per_colour ? parts[1] : "", req,
                         std::move(reply));
        });
    }
}

}  // namespace

void add_api_routes(http_router& router, fleet& machines, const http_settings& settings) {
    add_reads(router, machines, settings);
    add_writes(router, machines);
}

}  // namespace gateway
