// Replies for the settings commands: a read shows the values; a write shows the values read
// back, the requested keys with their old and new values, and fails with "not applied" when
// the read-back does not show what was asked for. Values that no sound settings file holds
// add a warning.
#pragma once

#include <span>
#include <string>

#include "client/settings_access.h"
#include "client/tool/reply.h"

namespace ifc_tool {

// head: the JSON object's leading members ("command", "colour", ...). table: the values for
// people (a write's change list is appended to it). what: the setting the values belong to.
reply read_reply(nlohmann::ordered_json head, ifc_client::setting what,
                 const ifc_client::line_answer& values, std::string table);
reply write_reply(nlohmann::ordered_json head, ifc_client::setting what,
                  const ifc_client::write_report& report,
                  std::span<const ifc_client::change> changes, std::string table);

// The settings file a setting lives in, as the server names it.
std::string_view settings_file_of(ifc_client::setting what);

// A warning for answer values that cannot come from a sound settings file (values outside
// their range, a histogram item the server cannot name), pointing to ifc-settings check;
// empty when there are none. suspects: the offending items, "color=0 (1..6)".
std::string damage_warning(std::string_view file, std::span<const std::string> suspects);

}  // namespace ifc_tool
