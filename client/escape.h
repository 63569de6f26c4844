// Bytes from the server in messages for people: a broken or foreign server can send anything,
// and raw control bytes must not reach the terminal.
#pragma once

#include <string>
#include <string_view>

namespace ifc_client {

// bytes with printable ASCII kept and every other byte, and the backslash, escaped:
// \n \r \t \\ and \xNN.
std::string escaped(std::string_view bytes);

}  // namespace ifc_client
