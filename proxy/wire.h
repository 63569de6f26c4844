// How the controller reads the wire, for the proxy's tracker: the kind of a request header,
// the length of a PUT header, the length header of a GET answer, and chunk counts.
#pragma once

#include <string_view>

#include "proxy/exchange.h"

namespace proxy::wire {

// The controller tests the header tokens in order (GET, PUT, PING, DISCONNECT); the first
// whose bytes match decides.
request_kind kind_of(std::string_view header);
// The length of a PUT header (the text after "PUT") as the controller reads it: leading white
// space, an optional sign, decimal digits up to the first other byte; no digits read as 0;
// beyond the 32-bit signed range the nearest limit.
long long put_length(std::string_view text);
// The controller refuses these lengths with "ERR!": taken as unsigned, above the limit.
bool length_refused(long long len);
// "LEN" and the length as "%010d": ten digits, or a minus sign and nine digits.
bool parse_len_header(std::string_view text, long long& len);
// Chunks of an answer or payload of len bytes.
int chunks_for(long long len);

}  // namespace proxy::wire
