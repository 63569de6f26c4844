// The manual of ifc-client as --help prints it: the commands in the operator's terms with
// their keys, the raw protocol, the output forms, the modes without a command and the exit
// statuses. A technician should need nothing else.
#pragma once

#include <string>
#include <string_view>

namespace ifc_tool {

inline constexpr std::string_view client_description =
    "ifc-client: reads and changes the settings of the weft-insertion server and shows its\n"
    "measurements (arrival timing, histograms), over the server's TCP protocol.";

// The text after the option and command lists of ifc-client --help.
std::string client_manual();

}  // namespace ifc_tool
