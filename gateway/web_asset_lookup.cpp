#include "gateway/web_assets.h"

namespace gateway {

const web_asset* find_asset(std::string_view name) {
    for (const web_asset& asset : web_assets()) {
        if (asset.name == name) return &asset;
    }
    return nullptr;
}

std::string_view content_type_of(std::string_view name) {
    if (name.ends_with(".html")) return "text/html; charset=utf-8";
    if (name.ends_with(".css")) return "text/css; charset=utf-8";
    if (name.ends_with(".js")) return "text/javascript; charset=utf-8";
    if (name.ends_with(".svg")) return "image/svg+xml";
    return "application/octet-stream";
}

}  // namespace gateway
