// Text that came from a peer (a controller's answer, a request's path) on its way into JSON,
// metrics or a page: a broken or foreign peer can send any bytes, and one byte that is not
// UTF-8 would make a JSON writer throw and a Prometheus scrape fail as a whole.
#pragma once

#include <string>
#include <string_view>

namespace gateway {

// Well-formed UTF-8: no stray or missing continuation bytes, no overlong forms, no surrogates,
// nothing above U+10FFFF.
bool is_utf8(std::string_view bytes);

// The bytes with every well-formed UTF-8 character kept and every other byte written as \xNN:
// valid UTF-8 that still shows what was sent. (JSON and the metrics escape the characters they
// must, control characters included.)
std::string peer_text(std::string_view bytes);

}  // namespace gateway
