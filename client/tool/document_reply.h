// Replies of the document commands: the differences of diff and the steps of apply, for people
// (in the operator's words) and as JSON.
#pragma once

#include <span>
#include <string>

#include "client/document_apply.h"
#include "client/document_diff.h"
#include "client/tool/reply.h"

namespace ifc_tool {

// A value of a document as JSON: a number or an item's name; null when there is none.
nlohmann::ordered_json json_of(const std::optional<ifc_client::setting_value>& value);
// {"section","colour","key","old","new"} (and "only_in": "A" or "B" for a section in one only).
nlohmann::ordered_json json_of(const ifc_client::difference& d);

// diff: one line per difference, or one line that says the two are equal; exit status 0 when
// equal, 1 when not.
reply diff_reply(const std::string& a, const std::string& b,
                 std::span<const ifc_client::difference> differences);

// apply: the plan (dry run) or every step run, the restore after a failed step, what could not
// be restored; the exit status of the failed step (0 when every step applied).
reply apply_reply(const std::string& document, const std::string& controller,
                  const ifc_client::apply_report& report);

}  // namespace ifc_tool
