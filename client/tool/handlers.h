// The handlers of ifc-client's verb table, grouped in files by what they talk about.
#pragma once

#include "client/tool/reply.h"
#include "client/tool/request.h"
#include "client/tool/session.h"

namespace ifc_tool {

// The handlers of the verb table, grouped by what they talk about. Each checks its words
// first and connects only when they are sound, so that a usage error is reported as such and
// sends nothing.
reply run_get(session& s, const request& r);
reply run_put(session& s, const request& r);
reply run_ping(session& s, const request& r);
reply run_status(session& s, const request& r);
reply run_select(session& s, const request& r);
reply run_targets(session& s, const request& r);
reply run_valves(session& s, const request& r);
reply run_timing(session& s, const request& r);
reply run_histogram(session& s, const request& r);
reply run_export(session& s, const request& r);
reply run_diff(session& s, const request& r);
reply run_apply(session& s, const request& r);

// f(connection) over the session's connection, or the reply that it cannot be had.
template <class F>
reply connected(session& s, F&& f) {
    auto conn = s.connection();
    if (!conn) {
        return failed(exit_status::cannot_connect, "cannot connect: " + conn.failure().detail);
    }
    return f(*conn.value());
}

}  // namespace ifc_tool
