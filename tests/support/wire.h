// Raw request bytes for tests that speak to the server below the client's exchanges.
#pragma once

#include <string>
#include <string_view>

#include "client/connection.h"

namespace test_support {

// start, filled with spaces to the 23 bytes of a request header.
std::string header(std::string_view start);
// "GET" and the name filled with spaces.
inline std::string get_header(std::string_view name) {
    return header("GET" + std::string(name));
}
// A PUT payload: name, NUL, argument.
std::string payload(std::string_view name, std::string_view argument);

// Sends a PUT header and payload, answering each "NEXT" with the next chunk (or, with
// all_at_once, sending everything before reading anything). Returns every byte the server
// sent back, which for a complete exchange is "NEXT" once per chunk and "FIN".
std::string put_raw(ifc_client::connection& conn, std::string_view payload, bool all_at_once);

// "NEXT" times n followed by "FIN".
std::string nexts_then_fin(int n);

}  // namespace test_support
