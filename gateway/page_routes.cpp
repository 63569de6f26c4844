#include "gateway/page_routes.h"

#include <algorithm>
#include <string>
#include <string_view>

#include "gateway/http_replies.h"
#include "gateway/web_assets.h"

namespace gateway {

namespace {

void send_asset(http_response& res, std::string_view name) {
    const web_asset* asset = find_asset(name);
    if (!asset) return send_text(res, 404, "not found\n");
    res.set_header("Cache-Control", "no-cache");
    res.set_static(asset->bytes, content_type_of(name));
}

struct page {
    std::string_view path;
    std::string_view file;
};
constexpr page mill_pages[] = {
    {"/library", "library.html"},
    {"/compare", "compare.html"},
    {"/rollouts", "rollouts.html"},
    {"/logbook", "logbook.html"},
};

bool is_number(std::string_view text) {
    return !text.empty() && text.size() <= 18 &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

}  // namespace

void add_page_routes(http_router& router, const fleet& machines) {
    router.get("/", [](const http_request&, const path_parts&, http_response& res) {
        send_asset(res, "index.html");
    });
    router.get("/machines/{name}",
               [&machines](const http_request&, const path_parts& parts, http_response& res) {
                   if (!machines.find(parts[0])) {
                       return send_text(res, 404, "no controller named " + parts[0] + "\n");
                   }
                   send_asset(res, "machine.html");
               });
    // The mill's pages; each says itself when the gateway keeps no state.
    for (const page& p : mill_pages) {
        router.get(p.path, [file = p.file](const http_request&, const path_parts&,
                                           http_response& res) { send_asset(res, file); });
    }
    router.get("/rollouts/{name}",
               [](const http_request&, const path_parts& parts, http_response& res) {
                   if (!is_number(parts[0])) {
                       return send_text(res, 404, "no roll-out numbered " + parts[0] + "\n");
                   }
                   send_asset(res, "rollout.html");
               });
    router.get("/static/{name}", [](const http_request&, const path_parts& parts,
                                    http_response& res) { send_asset(res, parts[0]); });
}

}  // namespace gateway
