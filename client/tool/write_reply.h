// Replies for the settings commands: a read shows the values; a write shows the values read
// back, the requested keys with their old and new values, and fails with "not applied" when
// the read-back does not show what was asked for.
#pragma once

#include <span>
#include <string>

#include "client/settings_access.h"
#include "client/tool/reply.h"

// head: the JSON object's leading members ("command", "colour", ...). table: the values for
// people (a write's change list is appended to it).
reply read_reply(nlohmann::ordered_json head, const ifc_client::line_answer& values,
                 std::string table);
reply write_reply(nlohmann::ordered_json head, const ifc_client::write_report& report,
                  std::span<const ifc_client::change> changes, std::string table);
