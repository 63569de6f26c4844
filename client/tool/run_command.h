// Runs one parsed command of ifc-client against the server and describes the outcome.
#pragma once

#include "client/tool/reply.h"
#include "client/tool/request.h"
#include "client/tool/session.h"

namespace ifc_tool {

// true for the commands that only read (they may repeat with --interval).
bool is_read_only(const request& r);

reply run_command(session& s, const request& r);

}  // namespace ifc_tool
