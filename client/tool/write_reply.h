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

// A write whose outcome is unknown (failure.outcome_unknown), with what a read on a new
// connection shows (now), or why that read failed (now_failure): exit status outcome_unknown,
// and the error line says whether the server holds the requested values. JSON: "applied" is
// null, "values" what the new read shows (null when there is none).
reply unknown_outcome_reply(nlohmann::ordered_json head, const ifc_client::error& failure,
                            const ifc_client::result<ifc_client::line_answer>& now,
                            std::span<const ifc_client::change> changes);
// The text that tells what a read on a new connection shows of the requested values.
std::string read_again_text(const ifc_client::error& failure, std::string_view shows);

// The settings file a setting lives in, as the server names it.
std::string_view settings_file_of(ifc_client::setting what);

// A warning for answer values that cannot come from a sound settings file (values outside
// their range, a histogram item the server cannot name), pointing to ifc-settings check;
// empty when there are none. suspects: the offending items, "color=0 (1..6)".
std::string damage_warning(std::string_view file, std::span<const std::string> suspects);

}  // namespace ifc_tool
