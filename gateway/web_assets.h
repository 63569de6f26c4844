// The web panel's files, compiled into the binary (see embed_web.cmake).
#pragma once

#include <span>
#include <string_view>

namespace gateway {

struct web_asset {
    std::string_view name;  // the file's name under gateway/web/
    std::string_view bytes;
};

std::span<const web_asset> web_assets();
// nullptr when there is no such file.
const web_asset* find_asset(std::string_view name);
// The media type told by the file name's extension.
std::string_view content_type_of(std::string_view name);

}  // namespace gateway
