// Bytes from a peer (a controller, a terminal) in text for people: a broken or foreign peer
// can send anything, and raw control bytes must not reach a terminal or a journal. One escaper,
// in the two forms the programs print.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace ifc_tool {

// bytes with printable ASCII kept and every other byte, and the backslash, escaped:
// \n \r \t \\ and \xNN (upper-case hex). For messages that quote a server's answer.
std::string escaped(std::string_view bytes);

// In double quotes; a quote, a backslash and every byte that is not printable ASCII escaped
// (\n, \r, \t, \0, \xnn in lower-case hex); bytes past max are left out and "..." follows the
// closing quote. For the proxy's short descriptions of what a side sent.
std::string quoted(std::string_view bytes, std::size_t max = 40);

// Where in bytes a bad byte stands, for a message: `byte 312 of 400: "...0 1\x01 0..."`, the
// bytes around bytes[at] (at most radius each side, escaped; "..." where cut). An answer of a
// thousand bytes is shown where it goes wrong, not from its start. at past the end points at
// the end (the bytes stopped too early).
std::string escaped_around(std::string_view bytes, std::size_t at, std::size_t radius = 24);

}  // namespace ifc_tool
