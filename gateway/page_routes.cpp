#include "gateway/page_routes.h"

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
    router.get("/static/{name}", [](const http_request&, const path_parts& parts,
                                    http_response& res) { send_asset(res, parts[0]); });
}

}  // namespace gateway
