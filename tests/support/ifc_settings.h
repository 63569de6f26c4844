// Helpers for tests of the weft-insertion commands: answers, the interface settings file and
// the server's diagnostic lines.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "client/connection.h"
#include "tests/support/server_process.h"

namespace test_support {

// Record indexes of the interface defaults, and so of "ifc_set.set" as the server writes it.
namespace ifc_record {
inline constexpr int Tot = 0;
inline constexpr int Twt = 1;
inline constexpr int STAT_1 = 2;
inline constexpr int STAT_2 = 3;
inline constexpr int V = 4;
inline constexpr int S1 = 5;
inline constexpr int S2 = 6;
inline constexpr int S3 = 7;
inline constexpr int S4 = 8;
}  // namespace ifc_record

inline constexpr std::string_view ifc_settings_name = "ifc_set.set";

// The answer text of a read command; records a test failure (and gives "") when the exchange
// fails.
std::string answer_of(ifc_client::connection& conn, std::string_view name);

// Runs a write command and then a read command on the same connection and returns the read's
// answer. The server runs a write after it has answered "FIN", so only a later request on the
// connection is sure to see its effect (also in the settings file).
std::string put_then_get(ifc_client::connection& conn, std::string_view put_name,
                         std::string_view argument, std::string_view get_name);

// The whole interface settings file of the server ("" when missing).
std::string ifc_settings(const server_process& server);
// The int32 in slot of record (its index or its name) in the server's interface settings file.
std::int32_t ifc_slot(const server_process& server, int record, int slot);
std::int32_t ifc_slot(const server_process& server, std::string_view record, int slot);

// Lines of the server's standard output that begin with prefix, in order.
std::vector<std::string> stdout_lines_starting(const server_process& server,
                                               std::string_view prefix);

// Starts a server, runs the setup write, then sends each argument to put_name and checks that
// the answer of get_name and the whole settings file stay as they were after the setup, and
// that the connection still serves requests.
void expect_no_change(std::string_view put_name, std::string_view get_name,
                      std::string_view setup_name, std::string_view setup_argument,
                      std::initializer_list<std::string> arguments);

// The largest argument a payload can carry for put_name: start, then fill up to the 256000
// bytes of the payload (name and NUL included).
std::string longest_argument(std::string_view put_name, std::string_view start, char fill);

}  // namespace test_support
