#include "gateway/page_routes.h"

#include <string>
#include <string_view>

#include "gateway/addresses.h"
#include "gateway/web_assets.h"

namespace gateway {

namespace {

using httplib::Request;
using httplib::Response;

void send_asset(Response& res, std::string_view name) {
    const web_asset* asset = find_asset(name);
    if (!asset) {
        res.status = 404;
        res.set_content("not found\n", "text/plain");
        return;
    }
    res.set_header("Cache-Control", "no-cache");
    res.set_content(std::string(asset->bytes), std::string(content_type_of(name)).c_str());
}

}  // namespace

void add_page_routes(httplib::Server& server, const fleet& machines) {
    server.Get("/", [](const Request&, Response& res) { send_asset(res, "index.html"); });
    server.Get(std::string("/machines/") + controller_name_pattern, [&machines](const Request& req,
                                                                                Response& res) {
        if (!machines.find(req.matches[1].str())) {
            res.status = 404;
            res.set_content("no controller named " + req.matches[1].str() + "\n", "text/plain");
            return;
        }
        send_asset(res, "machine.html");
    });
    server.Get("/static/([A-Za-z0-9._-]+)",
               [](const Request& req, Response& res) { send_asset(res, req.matches[1].str()); });
}

}  // namespace gateway
